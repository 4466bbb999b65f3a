/*
 * A capture device for tests, loaded by libasound itself as an external I/O
 * plugin ("pcm_type.tvxfake"). It stands in for microphone hardware that the
 * file plugin cannot imitate. Configuration fields:
 *   mode "flow" (default): one period is always ready; frame n of the
 *        stream carries the sample n % 32000 (negated on channel 1).
 *   mode "stall": starts, then never delivers a frame and never signals poll.
 *   mode "paced": frames of silence become ready in real time from the
 *        start, as from a sound card: frame k of a run is taken at
 *        start + k / device rate. A reader that falls more than a buffer
 *        behind overruns: the pointer reports -EPIPE, the unread frames are
 *        lost, and after prepare the run begins afresh at the next start.
 *   ppm N: paced only: the device's crystal runs N parts per million fast
 *        (slow when negative): the device rate is the stream's rate times
 *        (1 + N / 1e6), while the stream still claims the nominal rate.
 *   tone_at N: paced only: frames taken at or after CLOCK_MONOTONIC
 *        nanosecond N carry a 1 kHz square wave instead of silence.
 *   tone_period_ms P: paced only: from tone_at on, the tone sounds for P ms,
 *        is silent for P ms, and so on, each edge at its moment on the clock;
 *        the wave's phase restarts at each on-edge. 0: sounds from then on.
 *   latency_ms N: paced only: a frame becomes ready N ms after it was
 *        taken, as behind a sound server; the device's delay counts the
 *        frames taken and not yet read, ready or not.
 *   stall_at N, stall_ms M: the first pointer, transfer or poll_revents call
 *        at or after CLOCK_MONOTONIC nanosecond N holds its caller (the
 *        reader) until N + M ms, once, while the device keeps producing.
 *   open_delay_ms N: opening takes N ms more, as a slow sound server's does.
 *   channels N: accept only N channels (default 1 or 2).
 *   errors N: the first N transfers fail with -EIO.
 *   xrun_after N: report one overrun once N frames have been read; the
 *        stream skips kLostFrames frames, as a real overrun loses them.
 */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

enum { kLostFrames = 1000 };

typedef struct {
    snd_pcm_ioplug_t io;
    int stall;
    int paced;
    int64_t startNs; /* paced: monotonic time of the start, -1 before it */
    double ppm;      /* paced: how fast the device runs, parts per million */
    int64_t toneAtNs; /* paced: monotonic time the tone begins; 0: never */
    int64_t tonePeriodNs; /* paced: length of each on and off stretch; 0: on */
    int64_t latencyNs;    /* paced: from taken to ready */
    int64_t stallAtNs;    /* monotonic time the reader is held; 0: never */
    int64_t stallNs;      /* how long after stallAtNs the reader is let go */
    int stallDone;
    long errorsLeft;
    long xrunAfter;
    int xrunDone;
    snd_pcm_uframes_t produced; /* frames made ready since prepare */
    snd_pcm_uframes_t consumed; /* frames read since prepare */
    uint64_t streamFrame;       /* frames read since open: the data pattern */
} FakePcm;

static int64_t monotonicNs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

/* Paced: frames the device takes per second of the monotonic clock. */
static double deviceRate(const FakePcm* fake, const snd_pcm_ioplug_t* io)
{
    return io->rate * (1.0 + fake->ppm / 1e6);
}

/* Holds the reader from stall_at until stall_ms later, the first time it
 * calls in at or after stall_at. */
static void starveOnce(FakePcm* fake)
{
    if (fake->stallAtNs <= 0 || fake->stallDone || monotonicNs() < fake->stallAtNs)
        return;
    fake->stallDone = 1;
    const int64_t untilNs = fake->stallAtNs + fake->stallNs;
    const struct timespec until = {untilNs / 1000000000, untilNs % 1000000000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) == EINTR) {
    }
}

/* Paced: frames taken since the start, `lagNs` ago. */
static uint64_t framesTaken(const FakePcm* fake, const snd_pcm_ioplug_t* io, int64_t lagNs)
{
    const int64_t elapsedNs = monotonicNs() - lagNs - fake->startNs;
    return elapsedNs > 0 ? (uint64_t)((double)elapsedNs * deviceRate(fake, io) / 1e9) : 0;
}

/* Paced: makes ready what the clock says; -EPIPE once the frames due are
 * more than a buffer ahead of those read. The ioplug layer tells positions
 * apart only within a buffer, so at most buffer - 1 frames wait. */
static int paceProduced(FakePcm* fake, snd_pcm_ioplug_t* io)
{
    if (fake->startNs < 0)
        return 0;
    const uint64_t due = framesTaken(fake, io, fake->latencyNs);
    if (due > (uint64_t)fake->consumed + io->buffer_size)
        return -EPIPE;
    uint64_t target = due;
    const uint64_t cap = (uint64_t)fake->consumed + io->buffer_size - 1;
    if (target > cap)
        target = cap;
    if (target > fake->produced)
        fake->produced = (snd_pcm_uframes_t)target;
    return 0;
}

/* Paced: the sample of frame k of the run, decided by the moment it was
 * taken. The wave never passes through 0, so silence marks the off stretches. */
static int16_t pacedSample(const FakePcm* fake, const snd_pcm_ioplug_t* io, uint64_t k)
{
    if (fake->toneAtNs <= 0)
        return 0;
    const int64_t takenNs = fake->startNs + (int64_t)((double)k * 1e9 / deviceRate(fake, io));
    if (takenNs < fake->toneAtNs)
        return 0;
    int64_t sinceOnNs = takenNs - fake->toneAtNs;
    if (fake->tonePeriodNs > 0) {
        if ((sinceOnNs / fake->tonePeriodNs) % 2)
            return 0;
        sinceOnNs %= fake->tonePeriodNs;
    }
    return (sinceOnNs / 500000) % 2 ? -8000 : 8000;
}

/* Paced: makes the poll descriptor readable from the moment a period past
 * the frames read is due (at once if it is), as a period interrupt would;
 * readiness itself is decided from the pace. Setting the timer clears any
 * earlier expiry. Before the start it is disarmed. */
static void wakeForNextPeriod(FakePcm* fake, snd_pcm_ioplug_t* io)
{
    struct itimerspec timer = {{0, 0}, {0, 0}};
    if (fake->startNs >= 0) {
        const double frames = (double)fake->consumed + (double)io->period_size;
        /* A microsecond over, so that the frame is surely due on waking. */
        const int64_t atNs =
            fake->startNs + (int64_t)(frames * 1e9 / deviceRate(fake, io)) + fake->latencyNs + 1000;
        timer.it_value.tv_sec = atNs / 1000000000;
        timer.it_value.tv_nsec = atNs % 1000000000;
    }
    timerfd_settime(io->poll_fd, TFD_TIMER_ABSTIME, &timer, NULL);
}

static int fakeStart(snd_pcm_ioplug_t* io)
{
    FakePcm* fake = io->private_data;
    if (fake->paced) {
        fake->startNs = monotonicNs();
        wakeForNextPeriod(fake, io);
    }
    return 0;
}

static int fakeStop(snd_pcm_ioplug_t* io)
{
    FakePcm* fake = io->private_data;
    if (fake->paced) {
        fake->startNs = -1;
        wakeForNextPeriod(fake, io);
    }
    return 0;
}

static int fakePrepare(snd_pcm_ioplug_t* io)
{
    FakePcm* fake = io->private_data;
    fake->produced = 0;
    fake->consumed = 0;
    fake->startNs = -1;
    if (fake->paced)
        wakeForNextPeriod(fake, io);
    return 0;
}

static snd_pcm_sframes_t fakePointer(snd_pcm_ioplug_t* io)
{
    FakePcm* fake = io->private_data;
    starveOnce(fake);
    if (fake->stall)
        return 0;
    if (fake->paced) {
        if (paceProduced(fake, io) < 0)
            return -EPIPE;
        return (snd_pcm_sframes_t)(fake->produced % io->buffer_size);
    }
    if (fake->xrunAfter > 0 && !fake->xrunDone && fake->streamFrame >= (uint64_t)fake->xrunAfter) {
        fake->xrunDone = 1;
        fake->streamFrame += kLostFrames;
        return -EPIPE;
    }
    if (fake->produced - fake->consumed < io->period_size)
        fake->produced += io->period_size;
    return (snd_pcm_sframes_t)(fake->produced % io->buffer_size);
}

static snd_pcm_sframes_t fakeTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                      snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    FakePcm* fake = io->private_data;
    starveOnce(fake);
    if (fake->errorsLeft > 0) {
        --fake->errorsLeft;
        return -EIO;
    }
    for (snd_pcm_uframes_t i = 0; i < size; ++i) {
        int16_t value = (int16_t)((fake->streamFrame + i) % 32000);
        if (fake->paced)
            value = pacedSample(fake, io, (uint64_t)fake->consumed + i);
        for (unsigned c = 0; c < io->channels; ++c) {
            const snd_pcm_channel_area_t* area = &areas[c];
            int16_t* sample = (int16_t*)((char*)area->addr + (area->first + area->step * (offset + i)) / 8);
            *sample = c == 0 ? value : (int16_t)-value;
        }
    }
    fake->streamFrame += size;
    fake->consumed += size;
    if (fake->paced)
        wakeForNextPeriod(fake, io);
    return (snd_pcm_sframes_t)size;
}

/* Paced: the frames taken and not yet read, the held ones too. */
static int fakeDelay(snd_pcm_ioplug_t* io, snd_pcm_sframes_t* delay)
{
    FakePcm* fake = io->private_data;
    if (paceProduced(fake, io) < 0)
        return -EPIPE;
    const uint64_t taken = fake->startNs < 0 ? 0 : framesTaken(fake, io, 0);
    *delay = taken > fake->consumed ? (snd_pcm_sframes_t)(taken - fake->consumed) : 0;
    return 0;
}

static int fakeClose(snd_pcm_ioplug_t* io)
{
    FakePcm* fake = io->private_data;
    close(io->poll_fd);
    free(fake);
    return 0;
}

/* Paced: ready when a period is, or after an overrun, so that the reader's
 * next call hears of it. */
static int fakePollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds, unsigned short* revents)
{
    FakePcm* fake = io->private_data;
    (void)pfd;
    (void)nfds;
    starveOnce(fake);
    wakeForNextPeriod(fake, io);
    if (paceProduced(fake, io) < 0)
        *revents = POLLIN;
    else
        *revents = fake->produced - fake->consumed >= io->period_size ? POLLIN : 0;
    return 0;
}

/* An integer field, which the configuration parser stores as 32 or 64 bits. */
static int getInteger64(snd_config_t* n, long long* value)
{
    long small;
    if (snd_config_get_integer64(n, value) == 0)
        return 0;
    if (snd_config_get_integer(n, &small) < 0)
        return -EINVAL;
    *value = small;
    return 0;
}

static const snd_pcm_ioplug_callback_t kPacedCallbacks = {
    .start = fakeStart,
    .stop = fakeStop,
    .pointer = fakePointer,
    .transfer = fakeTransfer,
    .close = fakeClose,
    .prepare = fakePrepare,
    .poll_revents = fakePollRevents,
    .delay = fakeDelay,
};

static const snd_pcm_ioplug_callback_t kCallbacks = {
    .start = fakeStart,
    .stop = fakeStop,
    .pointer = fakePointer,
    .transfer = fakeTransfer,
    .close = fakeClose,
    .prepare = fakePrepare,
};

SND_PCM_PLUGIN_DEFINE_FUNC(tvxfake)
{
    (void)root;
    const char* behaviour = "flow";
    long channels = 0;
    long errors = 0;
    long xrunAfter = 0;
    long long toneAt = 0;
    long long tonePeriodMs = 0;
    long long ppm = 0;
    long long stallAt = 0;
    long long stallMs = 0;
    long long latencyMs = 0;
    long openDelayMs = 0;

    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* n = snd_config_iterator_entry(i);
        const char* id;
        if (snd_config_get_id(n, &id) < 0)
            continue;
        if (strcmp(id, "comment") == 0 || strcmp(id, "type") == 0 || strcmp(id, "hint") == 0)
            continue;
        if (strcmp(id, "mode") == 0 && snd_config_get_string(n, &behaviour) == 0)
            continue;
        if (strcmp(id, "channels") == 0 && snd_config_get_integer(n, &channels) == 0)
            continue;
        if (strcmp(id, "errors") == 0 && snd_config_get_integer(n, &errors) == 0)
            continue;
        if (strcmp(id, "xrun_after") == 0 && snd_config_get_integer(n, &xrunAfter) == 0)
            continue;
        if (strcmp(id, "tone_at") == 0 && getInteger64(n, &toneAt) == 0)
            continue;
        if (strcmp(id, "tone_period_ms") == 0 && getInteger64(n, &tonePeriodMs) == 0 && tonePeriodMs >= 0)
            continue;
        if (strcmp(id, "ppm") == 0 && getInteger64(n, &ppm) == 0 && ppm > -1000000)
            continue;
        if (strcmp(id, "stall_at") == 0 && getInteger64(n, &stallAt) == 0)
            continue;
        if (strcmp(id, "stall_ms") == 0 && getInteger64(n, &stallMs) == 0 && stallMs >= 0)
            continue;
        if (strcmp(id, "latency_ms") == 0 && getInteger64(n, &latencyMs) == 0 && latencyMs >= 0)
            continue;
        if (strcmp(id, "open_delay_ms") == 0 && snd_config_get_integer(n, &openDelayMs) == 0)
            continue;
        return -EINVAL;
    }
    if (stream != SND_PCM_STREAM_CAPTURE)
        return -EINVAL;
    if (openDelayMs > 0) {
        const struct timespec delay = {openDelayMs / 1000, (openDelayMs % 1000) * 1000000};
        nanosleep(&delay, NULL);
    }

    FakePcm* fake = calloc(1, sizeof(FakePcm));
    if (!fake)
        return -ENOMEM;
    fake->stall = strcmp(behaviour, "stall") == 0;
    fake->paced = strcmp(behaviour, "paced") == 0;
    fake->startNs = -1;
    fake->ppm = (double)ppm;
    fake->toneAtNs = toneAt;
    fake->tonePeriodNs = tonePeriodMs * 1000000;
    fake->stallAtNs = stallAt;
    fake->stallNs = stallMs * 1000000;
    fake->latencyNs = latencyMs * 1000000;
    fake->errorsLeft = errors;
    fake->xrunAfter = xrunAfter;

    const int fd = fake->paced ? timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)
                               : eventfd(fake->stall ? 0 : 1, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        free(fake);
        return -errno;
    }
    fake->io.version = SND_PCM_IOPLUG_VERSION;
    fake->io.name = "Tavrix test capture";
    fake->io.callback = fake->paced ? &kPacedCallbacks : &kCallbacks;
    fake->io.private_data = fake;
    fake->io.poll_fd = fd;
    fake->io.poll_events = POLLIN;

    int err = snd_pcm_ioplug_create(&fake->io, name, stream, mode);
    if (err < 0) {
        close(fd);
        free(fake);
        return err;
    }

    static const unsigned int kAccess[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned int kFormats[] = {SND_PCM_FORMAT_S16_LE};
    const unsigned int minChannels = channels > 0 ? (unsigned)channels : 1;
    const unsigned int maxChannels = channels > 0 ? (unsigned)channels : 2;
    if ((err = snd_pcm_ioplug_set_param_list(&fake->io, SND_PCM_IOPLUG_HW_ACCESS, 1, kAccess)) < 0 ||
        (err = snd_pcm_ioplug_set_param_list(&fake->io, SND_PCM_IOPLUG_HW_FORMAT, 1, kFormats)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&fake->io, SND_PCM_IOPLUG_HW_CHANNELS, minChannels, maxChannels)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&fake->io, SND_PCM_IOPLUG_HW_RATE, 8000, 192000)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&fake->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&fake->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0) {
        snd_pcm_ioplug_delete(&fake->io);
        return err;
    }
    *pcmp = fake->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(tvxfake);
