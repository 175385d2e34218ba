// Carries the precompiled headers that the test binaries share (see
// tervolo_share_test_headers in cmake/Tervolo.cmake); never run.
int main() { return 0; }
