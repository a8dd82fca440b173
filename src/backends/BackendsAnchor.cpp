// Keeps the back-end library non-empty whatever back ends a build selects.
namespace spindle::backends {
int BackendLibraryAnchor() { return 0; }
}  // namespace spindle::backends
