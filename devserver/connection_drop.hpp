#pragma once
// Ends a server-side connection abruptly, for the "drop" fault: httplib
// does not hand its socket to the handlers, so the socket is found among
// the process's descriptors by its two ports and shut down (not closed:
// the server still owns the descriptor and closes it itself).

namespace cadrio::devserver {

/// True when a socket with this local and remote port was found and shut
/// down.
bool shutDownConnection(int localPort, int remotePort);

}  // namespace cadrio::devserver
