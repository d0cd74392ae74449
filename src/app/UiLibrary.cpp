// Anchors the UI library while it has no other sources.
namespace vantorel_ui_anchor {
int anchor() { return 0; }
}
