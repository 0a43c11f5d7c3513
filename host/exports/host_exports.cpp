// What a host program shows the plug-ins it loads in its dynamic symbol
// table (see host_exports.list): plug-ins look these up in the program with
// dlsym, and carry on without them when a program does not export them.

// Whether the press behind the click being sent is the secondary (right)
// button: 0 until a click, then set by the host before each click (see
// CustomUi). A plug-in that finds this byte reads clicks by it instead of
// watching the buttons itself.
extern "C" {
__attribute__((visibility("default"))) unsigned char gIsSwapped = 0;
}
