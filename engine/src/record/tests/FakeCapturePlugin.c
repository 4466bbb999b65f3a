/*
 * A capture device for tests, loaded by libasound itself as an external I/O
 * plugin ("pcm_type.tvxfake"). It stands in for microphone hardware that the
 * file plugin cannot imitate. Configuration fields:
 *   mode "flow" (default): one period is always ready; frame n of the
 *        stream carries the sample n % 32000 (negated on channel 1).
 *   mode "stall": starts, then never delivers a frame and never signals poll.
 *   mode "paced": frames of silence become ready at the stream's rate in real
 *        time from the start, as from a sound card; a reader that falls behind
 *        gets the backlog later instead of an overrun.
 *   tone_at N: paced only: frames taken at or after CLOCK_MONOTONIC
 *        nanosecond N carry a 1 kHz square wave instead of silence.
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
    int64_t toneAtNs; /* paced: monotonic time the tone begins; 0: never */
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

/* Paced: makes ready what the clock says, never more than the buffer holds. */
static void paceProduced(FakePcm* fake, snd_pcm_ioplug_t* io)
{
    if (fake->startNs < 0)
        return;
    const uint64_t due = (uint64_t)(monotonicNs() - fake->startNs) * io->rate / 1000000000u;
    uint64_t target = due;
    const uint64_t cap = (uint64_t)fake->consumed + io->buffer_size - 1;
    if (target > cap)
        target = cap;
    if (target > fake->produced)
        fake->produced = (snd_pcm_uframes_t)target;
}

static int fakeStart(snd_pcm_ioplug_t* io)
{
    FakePcm* fake = io->private_data;
    if (fake->paced) {
        fake->startNs = monotonicNs();
        const long periodNs = (long)((uint64_t)io->period_size * 1000000000u / io->rate);
        struct itimerspec timer = {{periodNs / 1000000000, periodNs % 1000000000},
                                   {periodNs / 1000000000, periodNs % 1000000000}};
        timerfd_settime(io->poll_fd, 0, &timer, NULL);
    }
    return 0;
}

static int fakeStop(snd_pcm_ioplug_t* io)
{
    (void)io;
    return 0;
}

static int fakePrepare(snd_pcm_ioplug_t* io)
{
    FakePcm* fake = io->private_data;
    fake->produced = 0;
    fake->consumed = 0;
    fake->startNs = -1;
    return 0;
}

static snd_pcm_sframes_t fakePointer(snd_pcm_ioplug_t* io)
{
    FakePcm* fake = io->private_data;
    if (fake->stall)
        return 0;
    if (fake->paced) {
        paceProduced(fake, io);
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
    if (fake->errorsLeft > 0) {
        --fake->errorsLeft;
        return -EIO;
    }
    /* Paced frame k since the start was taken at startNs + k / rate. */
    int64_t toneFrame = INT64_MAX;
    if (fake->paced && fake->toneAtNs > 0 && fake->startNs >= 0)
        toneFrame = (fake->toneAtNs - fake->startNs) * (int64_t)io->rate / 1000000000;
    for (snd_pcm_uframes_t i = 0; i < size; ++i) {
        int16_t value = (int16_t)((fake->streamFrame + i) % 32000);
        if (fake->paced) {
            const int64_t k = (int64_t)(fake->consumed + i);
            value = k < toneFrame ? 0 : (((k - toneFrame) * 2000 / (int64_t)io->rate) % 2 ? -8000 : 8000);
        }
        for (unsigned c = 0; c < io->channels; ++c) {
            const snd_pcm_channel_area_t* area = &areas[c];
            int16_t* sample = (int16_t*)((char*)area->addr + (area->first + area->step * (offset + i)) / 8);
            *sample = c == 0 ? value : (int16_t)-value;
        }
    }
    fake->streamFrame += size;
    fake->consumed += size;
    return (snd_pcm_sframes_t)size;
}

static int fakeClose(snd_pcm_ioplug_t* io)
{
    FakePcm* fake = io->private_data;
    close(io->poll_fd);
    free(fake);
    return 0;
}

/* Paced: the timer wakes the reader once a period; ready when a period is. */
static int fakePollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds, unsigned short* revents)
{
    FakePcm* fake = io->private_data;
    uint64_t expirations;
    (void)pfd;
    (void)nfds;
    if (read(io->poll_fd, &expirations, sizeof expirations) < 0 && errno != EAGAIN)
        return -errno;
    paceProduced(fake, io);
    *revents = fake->produced - fake->consumed >= io->period_size ? POLLIN : 0;
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
    long smallToneAt = 0;
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
        if (strcmp(id, "tone_at") == 0 && snd_config_get_integer64(n, &toneAt) == 0)
            continue;
        if (strcmp(id, "tone_at") == 0 && snd_config_get_integer(n, &smallToneAt) == 0) {
            toneAt = smallToneAt;
            continue;
        }
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
    fake->toneAtNs = toneAt;
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
