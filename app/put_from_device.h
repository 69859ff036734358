// Put From Device: the user picks a device file, and its upload into the Remote view's
// folder goes on the queue. UI thread only.
#pragma once

namespace app {

void putFromDevice();

}  // namespace app
