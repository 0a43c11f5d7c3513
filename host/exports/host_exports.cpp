// What a host program shows the plug-ins it loads in its dynamic symbol
// table (see host_exports.list): plug-ins look these up in the program with
// dlsym, and carry on without them when a program does not export them.

// Whether the primary and secondary mouse buttons are swapped: 0, they are
// not. A plug-in that finds this byte reads clicks by it instead of
// watching the buttons itself.
extern "C" {
__attribute__((visibility("default"))) unsigned char gIsSwapped = 0;
}
