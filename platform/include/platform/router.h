#pragma once
// The message router: window ids, posted and sent messages, and removal of
// queued messages, for the engine process and the helper processes it starts.
//
// Roles. A process becomes the engine side of the router by calling
// RouterInit() (RouterCreateWindow() and RouterWakeHandle() call it for you).
// From then on every window id it hands out lives in its own queue. RouterInit
// also puts REELPAGE_ROUTER_FD into the process's own environment, naming an
// inheritable SOCK_SEQPACKET socket, so every child started with fork+exec
// inherits both. A process that has not called RouterInit and finds that
// variable naming such a socket is a helper: its PostMessage and SendMessage
// travel to the engine over the socket. A process that is neither has no
// windows: PostMessage fails and SendMessage returns 0.
//
// Delivery. Messages for a window are delivered on the window's owner thread
// (the thread that created it, the UI thread) when it calls RouterDispatch(),
// which it does whenever RouterWakeHandle() becomes readable. The order:
// - Every queued message, posted or sent, from this thread, another thread or
//   another process, is delivered in the order it entered the queue. So one
//   sender's messages keep that sender's order: a sent message comes after
//   everything its sender posted before it, and (the sender waits) before
//   anything it posts afterwards. Messages of different senders interleave by
//   arrival. Unlike a Windows queue, a sent message does not overtake posts
//   already waiting: progress followed by a final sent message arrives as the
//   sender produced it.
// - SendMessage from the owner thread calls the procedure directly and skips
//   the queue.
// - A message from another process is queued when the engine's receiving
//   thread reads it from the socket, which it does at once; RemoveMessages
//   cannot reach one still in the socket.
//
// Another, unrelated process (a second start of the program) reaches an
// engine process through its named endpoint, a datagram socket in
// $XDG_RUNTIME_DIR named after the engine's pid (RouterEndpointPath); it can
// only post. The endpoint is removed when the engine process ends cleanly.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// wParam and lParam travel as 64-bit values; senders pass values like -1.
using WindowProc =
    std::function<int64_t(uint32_t hwnd, uint32_t msg, int64_t wParam, int64_t lParam)>;

// Names the environment variable that carries the helper socket's descriptor.
inline constexpr const char* kRouterFdVariable = "REELPAGE_ROUTER_FD";

// Makes this process the engine side: the wake eventfd, the helper socket
// (its inheritable end named in REELPAGE_ROUTER_FD), the named endpoint and
// the thread that receives from both sockets. Idempotent; returns 0 or the
// errno of the step that failed (without the endpoint the router still works).
int RouterInit();

// True once RouterInit has succeeded in this process.
bool RouterIsEngine();

// A new window whose messages go to proc on the calling thread. Ids are never
// reused within a process; 0 means failure.
uint32_t RouterCreateWindow(WindowProc proc);

// Forgets the window: its queued posts are dropped, its queued sends are
// answered 0, later posts to it fail (and from other processes are lost
// silently). Returns false for an unknown id.
bool RouterDestroyWindow(uint32_t hwnd);

// Queues a message and returns at once (from a helper it writes one packet
// to the socket, which the engine drains continuously). False when the window
// does not exist, or in a helper when the engine is gone.
bool PostMessage(uint32_t hwnd, uint32_t msg, int64_t wParam, int64_t lParam);

// Calls the window's procedure and returns its result. On the owner thread
// the call is direct; from any other thread or from a helper the message is
// queued and the caller waits until the owner thread has handled it. Returns
// 0 for an unknown or destroyed window, or when the engine goes away.
int64_t SendMessage(uint32_t hwnd, uint32_t msg, int64_t wParam, int64_t lParam);

// Removes every queued posted message of that number for that window; other
// messages keep their order. Sent messages stay (their senders wait for
// them). Does nothing in a helper.
void RemoveMessages(uint32_t hwnd, uint32_t msg);

// The eventfd that becomes readable when something is queued; -1 when the
// router cannot start. Watch it on the UI thread and call RouterDispatch.
// There is one per process: windows are meant to be created on that one
// thread, which is the only one woken.
int RouterWakeHandle();

// Delivers, on the calling thread, every message queued for its windows up
// to the moment of the call; messages queued while it runs leave the wake
// handle readable for the next call. Re-entrant: a procedure may run a nested
// event loop that dispatches again.
void RouterDispatch();

// Path of the named endpoint of the engine process pid.
std::string RouterEndpointPath(int pid);

// Posts to a window of another engine process through its named endpoint.
// Never blocks; false when that process has no endpoint (ended, stale socket
// file) or its queue is full.
bool RouterPostToProcess(int pid, uint32_t hwnd, uint32_t msg, int64_t wParam, int64_t lParam);

// Bytes for a window of another engine process (a file name to open, say),
// posted through its named endpoint like RouterPostToProcess. The window's
// procedure receives kMsgCopyData with wParam = dwData and lParam = the
// address of a CopyData that is valid only while the procedure runs. At most
// kMaxCopyData bytes; false when more, or as RouterPostToProcess.
inline constexpr uint32_t kMsgCopyData = 0x004A;
inline constexpr size_t kMaxCopyData = 16384;
struct CopyData {
    uint64_t dwData;
    uint32_t cbData;
    const void* lpData;
};
bool RouterCopyDataToProcess(int pid, uint32_t hwnd, uint64_t dwData, const void* data,
                             size_t size);

} // namespace platform
