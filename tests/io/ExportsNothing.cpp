// A shared library under the port-I/O module's name that exports no function
// at all: what a user gets who drops some other io library in its place.
namespace {

[[maybe_unused]] int hidden() {
    return 0;
}

}  // namespace
