// keys.h - every key the launcher reads from or writes to its two files, with the value a
// lookup gives when neither file has the key. The one place where a key's name and its
// default are written.
#pragma once

// A configuration key and its default ("" for most; a switch is on only when its value
// is exactly "1").
struct ConfigKey {
    const char* name;
    const char* fallback;
};

namespace keys {
// ---- update and news ----
inline constexpr ConfigKey kUpdateBase{"guncelleme", ""};    // empty: no update pass
inline constexpr ConfigKey kNewsAddress{"haber_adresi", ""}; // empty: no feed fetch
// Read from varsayilan.ini only: the signed list's public key and the lowest sequence a
// fresh install accepts.
inline constexpr ConfigKey kListKey{"liste_anahtari", ""};
inline constexpr ConfigKey kListFloor{"liste_sirasi", ""};

// ---- login ----
inline constexpr ConfigKey kAccountApi{"hesap_api", ""}; // empty: the game server logs in
inline constexpr ConfigKey kRemember{"hatirla", "1"};    // written by the login dialog
inline constexpr ConfigKey kUserName{"kullanici", ""};   // written by the login dialog

// ---- game server, game and local server ----
inline constexpr ConfigKey kServer{"sunucu", "127.0.0.1"}; // written by the settings dialog
inline constexpr ConfigKey kGame{"oyun", ""};
inline constexpr ConfigKey kGameFolder{"oyun_klasoru", ""};
inline constexpr ConfigKey kConsole{"konsol", ""};
// No server unless one is configured: a default path would start whatever anyone put there.
inline constexpr ConfigKey kLocalServer{"yerel_sunucu", ""};
inline constexpr ConfigKey kLocalServerFolder{"yerel_sunucu_klasoru", ".."};

// ---- desktop shortcut and links ----
inline constexpr ConfigKey kShortcutDone{"kisayol", ""}; // written once the shortcut exists
inline constexpr ConfigKey kWeb{"web", ""};
inline constexpr ConfigKey kSignUp{"kayit", ""}; // empty: the web address
inline constexpr ConfigKey kDiscord{"discord", ""};
inline constexpr ConfigKey kYoutube{"youtube", ""};
inline constexpr ConfigKey kInstagram{"instagram", ""};
inline constexpr ConfigKey kX{"x", ""};
inline constexpr ConfigKey kTwitch{"twitch", ""};
} // namespace keys
