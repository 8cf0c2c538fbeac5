// A tiny module that stands for the host's resource module: the tests copy it beside a
// resource folder, load it and take an address inside it as the module handle.
extern "C" __attribute__((visibility("default"))) int QvTestResourceMarker() {
    return 42;
}
