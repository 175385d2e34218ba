// A shared library under the plug-in's file name that is no Qt plug-in.
extern "C" int tervoloNotAPlugIn() {
    return 42;
}
