// The user-interface library; its windows live in this folder and its neighbours.
namespace tn::ui {
int uiLibraryAnchor() {
    return 0;
}
} // namespace tn::ui
