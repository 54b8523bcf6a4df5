// Win32 back end: the table of what each file gives. Echo requests are in
// echo_win32.cpp (what a failed one means in status_win32.cpp, the source
// check in source_win32.cpp), names in names_win32.cpp, threads in
// threads_win32.cpp, the console in console_win32.cpp.
#include "platform/platform.h"
#include "platform/standard_streams.h"
#include "platform/win32/back_end_win32.h"

namespace fanecho {

namespace {

// Windows has no small limits to raise or handles to wait out.
void prepareProcess() {}
std::FILE* openFile(const char* name) { return std::fopen(name, "r"); }
void finishProcess() {}

}  // namespace

Platform platform = {
    .echo = {.problem = win32::icmpProblem,
             .open = win32::icmpCreate,
             .send = win32::icmpSendEcho,
             .close = win32::icmpClose,
             .localSendProblem = win32::localSendProblem,
             .sourceProblem = win32::sourceProblem,
             .interfaceProblem = win32::interfaceProblem},
    .names = {.start = win32::startSockets,
              .stop = win32::stopSockets,
              .resolve = win32::resolveName,
              .reverse = win32::reverseName,
              .interfaceIndex = win32::interfaceIndex},
    .threads = {.start = win32::startThread,
                .waitFor = win32::waitForThreads,
                .release = win32::releaseThread,
                .startProblem = win32::threadStartProblem,
                .sleepMs = win32::sleepMs,
                .monotonicMs = win32::monotonicMs,
                .startTicker = win32::startTicker,
                .stopTicker = win32::stopTicker},
    .console = {.lockInit = win32::consoleLockInit,
                .lockEnter = win32::consoleLockEnter,
                .lockLeave = win32::consoleLockLeave,
                .writeOut = writeStandardOut,
                .flushOut = flushStandardOut,
                .writeErr = writeStandardError,
                .errTerminalWidth = win32::errTerminalWidth,
                .outIsTerminal = win32::outIsTerminal},
    .process = {.prepare = prepareProcess, .openFile = openFile, .finish = finishProcess},
};

}  // namespace fanecho
