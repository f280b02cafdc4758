// Real serial ports that an agent left changed when it died (internal loopback on, its own line
// settings): the agent puts them back as it starts, so that a crash never leaves a UART looped
// back. On Linux the platform keeps, while a port is open, a record of what it held in the run
// directory; Windows' own serial driver has no internal loopback and resets a port at its close,
// so there is nothing to put back there.
#pragma once

#ifdef _WIN32
inline int PutBackLeftPorts() {
    return 0;
}
#else
// Puts back every port whose record a dead agent left and that nobody holds now; returns how many.
int PutBackLeftPorts();
#endif
