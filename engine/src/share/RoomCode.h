#pragma once

#include <string>

namespace lagwell {

// The three-character room code of the live share and its file "share-code"
// in the per-user configuration directory ($XDG_CONFIG_HOME/tavrix, else
// $HOME/.config/tavrix). File errors are ignored: the code then lives for
// this run only. Stateless; callable from any thread.
class RoomCode {
public:
    // Digits 2-9 and capitals without I and O: nothing that reads alike.
    static constexpr char kAlphabet[] = "23456789ABCDEFGHJKLMNPQRSTUVWXYZ";
    static constexpr int kLength = 3;

    // A fresh random code; nothing is stored.
    static std::string newCode();

    // The code file's path, or empty when neither variable is usable. Creates
    // the directory (one level, mode 0700) and ignores the result.
    static std::string codeFilePath();

    // Writes the code and a line feed; the file is created with mode 0600 and
    // an existing one is set to it. Errors are ignored.
    static void saveCode(const std::string& code);

    // The stored code when the file's first line holds exactly three ASCII
    // letters or digits (upper-cased, other characters dropped), else a new
    // code that is saved at once.
    static std::string loadOrCreateCode();
};

}  // namespace lagwell
