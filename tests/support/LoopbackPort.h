#pragma once
// Ports on 127.0.0.1 for tests that need a server or nobody at all there.

// A free TCP port on 127.0.0.1 at the moment of asking: bound for a moment,
// then let go, so that nothing listens on it.
int freeLoopbackPort();
