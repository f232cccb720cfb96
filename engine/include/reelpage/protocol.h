#pragma once
// The codes the program, the engine and the preview helper pass to each other
// about the picture being edited: the preview commands of the session's queue,
// the operations of RotateFlip, the orientation states they lead to, and the
// watermark's alignments. The numbers are the protocol: they travel through
// shared blocks, stored records and exports, so they never change; no other
// file spells them.
#include <cstdint>

namespace reelpage {

// HelperCommand.m_nCode in a preview session's queue. The engine writes the
// Project fields first and then queues the command naming what changed;
// m_llParam is 0 unless said. 0 and 2 are never sent.
enum PreviewCommand : int32_t {
    kCmdSeek = 1,                    // m_llParam: the time to show next, in microseconds
    kCmdCropOrWatermarkMoved = 3,    // crop rectangle or watermark position changed
    kCmdSnapshotSource = 4,          // poster from the oriented source (no crop, no watermark)
    kCmdSnapshotShown = 5,           // poster from the picture on screen
    kCmdWatermarkPictureChanged = 6, // watermark picture, size or transparency
    kCmdAdjustmentsChanged = 7,      // colour adjustments or effects
    kCmdFlipChanged = 8,             // the picture was mirrored
    kCmdRotationChanged = 9,         // the picture was turned: width and height exchanged
    kCmdEnterCropMode = 10,          // deliver the whole oriented source picture
    kCmdLeaveCropMode = 11,          // deliver the output picture again
    kCmdOutputSizeChanged = 12,      // the output's width or height
    kCmdCropChanged = 13,            // crop rectangle typed or chosen, not dragged
    kCmdResizeMethodChanged = 14,    // how the crop is fitted into the output
    kCmdEnterWatermarkMode = 15,     // mark the watermark's frame on the picture
    kCmdLeaveWatermarkMode = 16,     // no more marking
    kCmdPresent = 17,                // each clock tick; m_llParam: the clock's time in microseconds
    kCmdPrepare = 18,                // playback ended: decode the picture of m_llParam (the clip
                                     // start) and hold it, the one on screen staying; a later
                                     // kCmdSeek to that time shows it at once and decodes on
};

// The operations of RotateFlip.
enum OrientationOp : int32_t {
    kRotateLeft = 10,
    kRotateRight = 11,
    kFlipHorizontal = 20,
    kFlipVertical = 21,
};

// A rotation exchanges the picture's width and height; a flip does not.
constexpr bool IsRotation(int32_t operation) {
    return operation == kRotateLeft || operation == kRotateRight;
}

// Project.m_Orientation: how the helpers turn the decoded picture. A left
// turn steps 0, 1, 2, 3; 4 to 7 are the mirrored states. The pixel each
// state moves source pixel (x, y) of a w x h picture to is in brackets.
enum OrientationState : int32_t {
    kOrientUpright = 0,             // as decoded (x, y)
    kOrientTurnedLeft = 1,          // a quarter turn to the left (y, w-1-x)
    kOrientTurnedHalf = 2,          // (w-1-x, h-1-y)
    kOrientTurnedRight = 3,         // a quarter turn to the right (h-1-y, x)
    kOrientFlippedVertically = 4,   // (x, h-1-y)
    kOrientTransposed = 5,          // mirrored on the top-left diagonal (y, x)
    kOrientFlippedHorizontally = 6, // (w-1-x, y)
    kOrientTransverse = 7,          // mirrored on the top-right diagonal (h-1-y, w-1-x)
};

// In the odd states the picture's width and height are exchanged.
constexpr bool OrientationSwapsSides(int32_t state) {
    return (state & 1) != 0;
}

// The state an operation leads to from each state (rows) for rotate left,
// rotate right, flip horizontally and flip vertically (columns): the state
// whose mapping above is the current state's followed by the operation's,
// so that any sequence of buttons gives the picture of pressing them one
// after another. A turn after a mirror goes the way it is pressed: from 6,
// a right turn gives (h-1-y, w-1-x), state 7.
constexpr int32_t kOrientationAfter[8][4] = {
    {1, 3, 6, 4}, {2, 0, 7, 5}, {3, 1, 4, 6}, {0, 2, 5, 7},
    {7, 5, 2, 0}, {4, 6, 3, 1}, {5, 7, 0, 2}, {6, 4, 1, 3},
};

// The orientation after an operation from a state 0..7; -1 for any other
// operation or state.
constexpr int32_t NextOrientation(int32_t state, int32_t operation) {
    int column = -1;
    switch (operation) {
    case kRotateLeft:
        column = 0;
        break;
    case kRotateRight:
        column = 1;
        break;
    case kFlipHorizontal:
        column = 2;
        break;
    case kFlipVertical:
        column = 3;
        break;
    default:
        break;
    }
    if (column < 0 || state < 0 || state > 7) return -1;
    return kOrientationAfter[state][column];
}

// m_WatermarkHPosition and m_WatermarkVPosition of Settings and Project: where
// the watermark is aligned across and down.
enum WatermarkAlign : int32_t {
    kAlignNone = 0,   // a project's watermark placed by hand
    kAlignStart = 1,  // left, or top
    kAlignCenter = 2, // centred, truncating toward zero
    kAlignEnd = 4,    // right, or bottom
};

} // namespace reelpage
