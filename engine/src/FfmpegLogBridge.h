#pragma once

// Routes FFmpeg's own messages (av_log) into the engine log instead of raw
// lines on standard error. Errors become ERROR lines (at most about one a
// second, with a count of those held back); warnings, information such as
// libx264's closing statistics and everything finer become DEBUG lines.
// While a Trial lives on a thread, that thread's errors are DEBUG lines too:
// there a failure is an answer (a hardware encoder that is not there), and
// the caller says what it means in its own words.

namespace lagwell {

class FfmpegLogBridge {
public:
    // Installs the callback for the whole process; later calls do nothing.
    // Any thread.
    static void install();

    // Errors on the constructing thread are DEBUG lines while it lives
    // (installs the bridge first). Nestable; must be destroyed on the thread
    // that made it.
    class Trial {
    public:
        Trial();
        ~Trial();
        Trial(const Trial&) = delete;
        Trial& operator=(const Trial&) = delete;
    };
};

}  // namespace lagwell
