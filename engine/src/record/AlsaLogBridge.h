#pragma once

// Routes ALSA's own messages (the library's error handler, which otherwise
// prints "ALSA lib ..." lines on standard error) into the engine log as DEBUG
// lines. What a failure means to the user is said by the caller, from the
// return code (AudioCapture's error text).

namespace lagwell {

class AlsaLogBridge {
public:
    // Installs the handler for the whole process; later calls do nothing.
    // Any thread.
    static void install();
};

}  // namespace lagwell
