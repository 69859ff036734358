#include "platform/stop_flag.h"

namespace platform {
namespace {
thread_local const std::atomic<bool>* stopOfThread = nullptr;
}  // namespace

void setThreadStopFlag(const std::atomic<bool>* flag) { stopOfThread = flag; }
const std::atomic<bool>* threadStopFlag() { return stopOfThread; }
bool threadStopped() { return stopOfThread && stopOfThread->load(); }

}  // namespace platform
