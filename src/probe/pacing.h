// The /rate: cap: one schedule shared by every worker, so that requests
// leave at most at the rate asked however many workers send them.
#pragma once

namespace fanecho {

// Waits until this request may leave, as /rate: stands now; at once when
// it sets no cap. The caller's time-out starts after it returns.
void awaitRequestTurn();

// Forgets the turns given (a new run in the same process).
void resetRequestPacing();

}  // namespace fanecho
