#pragma once
// Words the engine may put on the decoder helper's command line after the
// launch block's handle.

namespace reelpage {

// Leaves the source's sound undecoded: an encoding job's encoders read the
// sound from the import's sample file, so decoding it again in the job's
// decoder only costs time and memory.
constexpr char kDecoderNoSound[] = "nosound";

} // namespace reelpage
