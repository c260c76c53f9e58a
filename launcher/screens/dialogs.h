// dialogs.h - the modal dialogs' opening and closing rules, and key routing: what every
// key and typed character does on the screens. Main thread only.
//
// Index
//   ---- modal dialogs ----  openLoginDialog, closeLoginDialog, openSettingsDialog,
//                            closeSettingsDialog
//   ---- key routing ----    KeyRoutingHooks, keyHooks, routeChar, routeKey, onChar, onKey,
//                            routeHeldKeys
#pragma once

#include <cstdint>

struct GLFWwindow;

// ---- modal dialogs ----

// Opens the login dialog: focus on the second field shown (the password field, or the code
// field in the two-step stage) when a username is filled, else on the username field; the
// caret restarts. START and Enter on the bare main screen.
void openLoginDialog();
// Closes it with no field focused (a running login is cancelled first, through
// keyHooks().cancelLogin).
void closeLoginDialog();
// Opens the settings dialog: the server-address field gets configGet("sunucu",
// "127.0.0.1") and the focus.
void openSettingsDialog();
// Closes it with no field focused; nothing is saved.
void closeSettingsDialog();

// ---- key routing ----

// What the modules that come after the screens plug in; a null hook does nothing
// (clipboardText: empty).
struct KeyRoutingHooks {
    void (*cancelLogin)() = nullptr; // a login in progress, when the login dialog closes
    void (*submitLogin)() = nullptr;
    void (*saveSettings)() = nullptr;
    bool (*totpStep)() = nullptr;             // the login dialog asks for a two-step code
    const char* (*clipboardText)() = nullptr; // null result counts as empty
};
KeyRoutingHooks& keyHooks();

// A typed character: ignored unless a field is focused, the message box is hidden and the
// game is not running; then filtered by the field's kind and limit (typeCodePoint).
void routeChar(uint32_t c);
// A key, with GLFW key, action and modifier codes; first match wins: the message box
// (Escape or Enter hides it), Escape (closes the open dialog), Enter on the bare screen
// (opens the login dialog), Enter in a dialog (submits it), then Backspace, Tab (login
// dialog: username <-> password, or the code field in the two-step stage) and Ctrl+V on
// the focused field. Releases and every key while the game runs are ignored.
void routeKey(int key, int action, int mods);

// The GLFW callbacks (window unused): routeChar and routeKey, in the order they came. While
// a click waits for the frame's widgets (input().mousePressed or mouseReleased), they are
// held, so keys typed right after a click reach what the click opened.
void onChar(GLFWwindow* window, unsigned int codepoint);
void onKey(GLFWwindow* window, int key, int scancode, int action, int mods);
// Routes the held keys in order; the frame loop calls it once the widgets have seen the click.
void routeHeldKeys();
