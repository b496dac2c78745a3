#pragma once
// Every keyboard command of the program in one place: its name, where it sits in the
// menus, its keys and what the help card says about it. The menus, the 3D view's key
// map and the help card are all built from this table, so a key is declared once and
// the card cannot promise a key that does something else.
//
// Plain data, kept here rather than in app/ so the 3D view can read it; app/ adds the
// menu handlers and the card.
#include <array>
#include <optional>

#include <QKeyCombination>

namespace lumbrix {

enum class Command {
    openModel,
    addVenue,
    openVideoFile,
    openImage,
    openRecent,  // a submenu of the recent files rather than an action
    screenshot,
    toggleRecording,
    showCaptureFolder,
    quit,
    savePreset,
    recallPreset,
    toggleCameraLock,
    toggleFloorGrid,
    fullScreenView,
    reloadFiles,
    reloadWhenChanged,  // a check item that follows the view model's setting
    keyboardShortcuts,
};

// Who answers a command's keys.
enum class KeyOwner {
    // The window's menu action, while that window is active.
    menu,
    // The 3D view's application-wide key monitor, wherever the focus is, and ahead of a
    // menu action with the same keys, so one press acts once.
    view,
};

struct CommandSpec {
    Command command;
    // Also names the menu action's object: name + "Action".
    const char* name;
    // Menu title and item label; none for keys that only the 3D view knows.
    const char* menu;
    const char* label;
    // No key when `keys` has Qt::Key_unknown. With `digitSlots` the key is Qt::Key_0 and
    // stands for every digit, the digit being the slot.
    QKeyCombination keys;
    bool digitSlots;
    KeyOwner owner;
    const char* helpSection;
    const char* helpDescription;

    bool hasKeys() const { return keys.key() != Qt::Key_unknown; }
};

// In menu order and in the help card's order. A saving key comes before a recalling one,
// so Ctrl+Alt+digit saves.
inline constexpr std::array<CommandSpec, 17> kCommands = {{
    {Command::openModel, "openModel", "File", "Open Model\u2026", Qt::CTRL | Qt::Key_O, false, KeyOwner::menu, "File",
     "Open model"},
    {Command::addVenue, "addVenue", "File", "Add Venue\u2026", QKeyCombination(Qt::Key_unknown), false, KeyOwner::menu,
     nullptr, nullptr},
    {Command::openVideoFile, "openVideoFile", "File", "Open Video File\u2026", QKeyCombination(Qt::Key_unknown), false,
     KeyOwner::menu, nullptr, nullptr},
    {Command::openImage, "openImage", "File", "Open Image\u2026", QKeyCombination(Qt::Key_unknown), false,
     KeyOwner::menu, nullptr, nullptr},
    {Command::openRecent, "openRecent", "File", "Open Recent", QKeyCombination(Qt::Key_unknown), false, KeyOwner::menu,
     nullptr, nullptr},
    {Command::screenshot, "screenshot", "File", "Screenshot", Qt::CTRL | Qt::SHIFT | Qt::Key_S, false, KeyOwner::menu,
     "File", "Screenshot"},
    {Command::toggleRecording, "toggleRecording", "File", "Start/Stop Recording", Qt::CTRL | Qt::SHIFT | Qt::Key_R,
     false, KeyOwner::menu, "File", "Record or stop"},
    {Command::showCaptureFolder, "showCaptureFolder", "File", "Show Capture Folder", QKeyCombination(Qt::Key_unknown),
     false, KeyOwner::menu, nullptr, nullptr},
    {Command::quit, "quit", "File", "Quit", Qt::CTRL | Qt::Key_Q, false, KeyOwner::menu, "File", "Quit"},
    {Command::savePreset, "savePreset", nullptr, nullptr, Qt::CTRL | Qt::Key_0, true, KeyOwner::view,
     "Camera Presets", "Save camera preset"},
    {Command::recallPreset, "recallPreset", nullptr, nullptr, Qt::ALT | Qt::Key_0, true, KeyOwner::view,
     "Camera Presets", "Recall camera preset"},
    {Command::toggleCameraLock, "toggleCameraLock", "Camera", "Toggle Camera Lock", Qt::CTRL | Qt::Key_L, false,
     KeyOwner::view, "Camera", "Camera Lock"},
    {Command::toggleFloorGrid, "toggleFloorGrid", "View", "Toggle Floor Grid", Qt::CTRL | Qt::Key_G, false,
     KeyOwner::menu, "Camera", "Grid"},
    {Command::fullScreenView, "fullScreenView", "View", "Full Screen 3D View", QKeyCombination(Qt::Key_F11), false,
     KeyOwner::menu, "View", "Full screen 3D view"},
    {Command::reloadFiles, "reloadFiles", "View", "Reload", QKeyCombination(Qt::Key_F5), false, KeyOwner::menu, "View",
     "Reload model, venues and media"},
    {Command::reloadWhenChanged, "reloadWhenChanged", "View", "Reload Files When Changed",
     QKeyCombination(Qt::Key_unknown), false, KeyOwner::menu, nullptr, nullptr},
    {Command::keyboardShortcuts, "keyboardShortcuts", "Help", "Keyboard Shortcuts\u2026",
     QKeyCombination(Qt::Key_unknown), false, KeyOwner::menu, nullptr, nullptr},
}};

// A command a key press stands for, with the digit for a slot command.
struct CommandKey {
    const CommandSpec* spec = nullptr;
    int slot = 0;
};

// The first entry whose key is pressed with its modifiers held; other modifiers held
// besides (Shift, keypad) do not matter.
inline std::optional<CommandKey> commandForKey(int key, Qt::KeyboardModifiers modifiers) {
    for (const CommandSpec& spec : kCommands) {
        if (!spec.hasKeys() || (modifiers & spec.keys.keyboardModifiers()) != spec.keys.keyboardModifiers()) continue;
        if (spec.digitSlots && key >= Qt::Key_0 && key <= Qt::Key_9) return CommandKey{&spec, key - Qt::Key_0};
        if (!spec.digitSlots && key == spec.keys.key()) return CommandKey{&spec, 0};
    }
    return std::nullopt;
}

}  // namespace lumbrix
