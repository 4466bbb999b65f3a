#pragma once

// Names shared by the shell, the settings store and the language service:
// the application identity (it also names the settings file) and every
// settings key that more than one place reads or writes.

namespace tavrix {

inline constexpr char kOrganisationName[] = "Orvane";
inline constexpr char kApplicationName[] = "Tavrix";
inline constexpr char kApplicationVersion[] = "1.1.1";

inline constexpr char kKeyLanguageUi[] = "language/ui";
inline constexpr char kKeyLanguageCard[] = "language/card";
inline constexpr char kKeyTutorialSeen[] = "tutorial/seen";
inline constexpr char kKeySessionPlayer[] = "session/player";
inline constexpr char kKeySessionCoach[] = "session/coach";
inline constexpr char kKeySessionTitle[] = "session/title";
inline constexpr char kKeySessionType[] = "session/sessionType";

}  // namespace tavrix
