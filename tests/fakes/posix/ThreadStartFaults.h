// Thread starts that fail as they do when the system has no thread to give (pthread_create
// returning EAGAIN, which std::thread raises as std::system_error). Linking this into a test
// program puts its own pthread_create in front of the system's for the whole program.
#pragma once

namespace fake {

// The next n thread starts of this process fail; later ones succeed again.
void FailThreadStarts(int n);

}  // namespace fake
