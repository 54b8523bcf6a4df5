// The /progress line: one line on standard error, while it is a terminal,
// kept current with how far the run has come.
#pragma once

#include "common/uint128.h"

namespace fanecho {

// Draws the line, when standard error is a terminal, and keeps it current
// until endProgress. Main thread, without consoleLock.
void startProgress();
// Erases the line for good and stops its ticker. Main thread, without
// consoleLock; does nothing when no line was started.
void endProgress();

// Under /queue the line also shows how many targets wait: those of the
// argument being read that have not been started yet. The main thread sets
// the count as it takes up an argument, and notes every target it has done
// with (started, refused or failed); without consoleLock.
void setWaitingTargets(const Uint128& count);
void noteTargetTaken();

// Around every line the console writes, under consoleLock: the line is
// erased before text goes to its terminal and drawn again after it.
enum class ConsoleStream { out, err };
void hideProgress(ConsoleStream stream);
void showProgress();

}  // namespace fanecho
