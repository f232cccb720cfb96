// reelpage-cli: the headless front end. It binds the engine's exports as the
// program does, imports one video, sets up the project from the command line,
// encodes with a progress line, publishes the page and prints where it is.
// Several videos are a batch (Batch.h): each is a run of this program.
#include "Batch.h"
#include "CliOptions.h"
#include "MediaInfoText.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "picture/load.h"
#include "platform/router.h"
#include "platform/wstr.h"
#include "reelpage/encoding.h"
#include "reelpage/exports.h"
#include "reelpage/messages.h"
#include "reelpage/output_size.h"

namespace reelpage::cli {

namespace {

struct Message {
    uint32_t msg;
    int64_t wParam;
};

// The engine reports by messages to a window; this is that window, and the
// loop that waits for them while watching for Ctrl-C.
class Window {
public:
    Window() {
        m_hwnd = platform::RouterCreateWindow([this](uint32_t, uint32_t msg, int64_t w, int64_t) {
            m_messages.push_back({msg, w});
            return int64_t(0);
        });
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        m_signals = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    HWND Handle() const { return m_hwnd; }
    std::vector<Message>& Messages() { return m_messages; }

    // Delivers messages for up to timeoutMs; false once a stop signal came.
    bool Pump(int timeoutMs) {
        pollfd fds[2] = {{platform::RouterWakeHandle(), POLLIN, 0}, {m_signals, POLLIN, 0}};
        poll(fds, 2, timeoutMs);
        signalfd_siginfo info;
        if (read(m_signals, &info, sizeof info) == sizeof info) m_stopped = true;
        if (!m_stopped) platform::RouterDispatch();
        return !m_stopped;
    }
    bool Stopped() const { return m_stopped; }

private:
    HWND m_hwnd = 0;
    int m_signals = -1;
    bool m_stopped = false;
    std::vector<Message> m_messages;
};

void Say(const char* fmt, const std::string& a = "", const std::string& b = "") {
    std::fprintf(stderr, "reelpage-cli: ");
    std::fprintf(stderr, fmt, a.c_str(), b.c_str());
    std::fprintf(stderr, "\n");
}

struct Engine {
    FnOpenMedia OpenMedia = Bind<FnOpenMedia>(kOpenMedia);
    FnCreateProject CreateProject = Bind<FnCreateProject>(kCreateProject);
    FnRotateFlip RotateFlip = Bind<FnRotateFlip>(kRotateFlip);
    FnGetSettings GetSettings = Bind<FnGetSettings>(kGetSettings);
    FnGetMoreSettings GetMoreSettings = Bind<FnGetMoreSettings>(kGetMoreSettings);
    FnGetTemplateCount GetTemplateCount = Bind<FnGetTemplateCount>(kGetTemplateCount);
    FnGetTemplate GetTemplate = Bind<FnGetTemplate>(kGetTemplate);
    FnStartEncoding StartEncoding = Bind<FnStartEncoding>(kStartEncoding);
    FnFinishEncoding FinishEncoding = Bind<FnFinishEncoding>(kFinishEncoding);
    FnFreeEncoding FreeEncoding = Bind<FnFreeEncoding>(kFreeEncoding);
    FnGetOutputFolder GetOutputFolder = Bind<FnGetOutputFolder>(kGetOutputFolder);
    FnPublishPage PublishPage = Bind<FnPublishPage>(kPublishPage);
    FnListCaptions ListCaptions = Bind<FnListCaptions>(kListCaptions);
    FnAddCaptionFile AddCaptionFile = Bind<FnAddCaptionFile>(kAddCaptionFile);
    FnSetCaptionsEnabled SetCaptionsEnabled = Bind<FnSetCaptionsEnabled>(kSetCaptionsEnabled);
    FnGetCaptionMessage GetCaptionMessage = Bind<FnGetCaptionMessage>(kGetCaptionMessage);

    bool Complete() const {
        return OpenMedia && CreateProject && RotateFlip && GetSettings && GetMoreSettings &&
               GetTemplateCount &&
               GetTemplate && StartEncoding && FinishEncoding && FreeEncoding && GetOutputFolder &&
               PublishPage && ListCaptions && AddCaptionFile && SetCaptionsEnabled &&
               GetCaptionMessage;
    }
};

bool g_bEngineStarted = false;

// Start-up as the program does it, less what only a window needs.
int StartEngine() {
    g_bEngineStarted = true;
    Bind<FnInitDiagnostics>(kInitDiagnostics)();
    if (Bind<FnInitFolders>(kInitFolders)() != 0) {
        Say("The software is corrupted, please download and install the latest version.");
        return kExitInstallation;
    }
    Bind<FnInitEngine>(kInitEngine)();
    return kExitOk;
}

std::string TemplateName(const TemplateEntry& t) {
    return platform::ToUtf8(std::u16string_view(t.szName, platform::WStrNLen(t.szName, 128)));
}

// The import texts of the program's import dialog.
const char* ImportFailureText(int64_t code) {
    const char* text = ProbeResultText(code);
    return text ? text : ProbeResultText(kProbeFailed);
}

MediaInfo* Import(Engine& e, Window& w, const std::string& path, bool quiet, int* exitCode) {
    w.Messages().clear();
    MediaInfo* media = e.OpenMedia(platform::FromUtf8(path).c_str(), w.Handle(), 0, kMsgProbeDone,
                                   kMsgProbeProgress);
    const bool tty = isatty(2);
    for (;;) {
        for (const Message& m : w.Messages()) {
            if (m.msg != kMsgProbeDone) continue;
            if (!quiet && tty) std::fprintf(stderr, "\r\033[K");
            if (m.wParam != kProbeOk || !media) {
                Say("%s: %s", path, ImportFailureText(m.wParam));
                *exitCode = kExitImport;
                return nullptr;
            }
            return media;
        }
        int64_t percent = -1;
        for (const Message& m : w.Messages())
            if (m.msg == kMsgProbeProgress) percent = m.wParam;
        if (!quiet && tty && percent >= 0)
            std::fprintf(stderr, "\rImporting %3lld%%", static_cast<long long>(percent));
        if (!w.Pump(250)) {
            if (tty) std::fprintf(stderr, "\n");
            Say("cancelled");
            *exitCode = kExitCancelled;
            return nullptr;
        }
    }
}

// The template by its name or number; -1, said, when there is none.
int FindTemplate(Engine& e, const std::string& name) {
    const int count = e.GetTemplateCount();
    for (int i = 0; i < count; ++i)
        if (TemplateName(*e.GetTemplate(i)) == name) return i;
    char* end = nullptr;
    const long n = std::strtol(name.c_str(), &end, 10);
    if (*end == 0 && n >= 0 && n < count) return int(n);
    Say("--template %s: no such template (reelpage-cli --templates lists them)", name);
    return -1;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Writes the command line's choices into the settings (defaults of the new
// project) and the project. False with a message when a choice cannot be used.
bool SetUpProject(Engine& e, const CliOptions& o, MediaInfo* media, Project** out) {
    Settings* s = e.GetSettings();
    if (!o.output.empty()) {
        char real[4096];
        std::string folder = o.output;
        if (realpath(folder.c_str(), real)) folder = real;
        platform::WStrCopy(s->m_szFolder, platform::FromUtf8(folder));
    }
    if (!o.title.empty()) platform::WStrCopy(media->m_szName, platform::FromUtf8(o.title));
    if (!o.watermark.empty()) {
        picture::Bitmap picture;
        const picture::Error err = picture::LoadPicture(o.watermark, picture);
        if (err != picture::Error::None) {
            Say("--watermark %s: %s", o.watermark, picture::ErrorText(err));
            return false;
        }
        platform::WStrCopy(s->m_WatermarkFile, platform::FromUtf8(o.watermark));
        s->m_WatermarkImageWidth = picture.Width();
        s->m_WatermarkImageHeight = picture.Height();
        if (o.watermarkSize) {
            s->m_WatermarkImageWidth = o.watermarkSize->a;
            s->m_WatermarkImageHeight = o.watermarkSize->b;
        }
        if (o.watermarkPosition) {
            s->m_WatermarkHPosition = o.watermarkPosition->a;
            s->m_WatermarkVPosition = o.watermarkPosition->b;
        }
        if (o.watermarkTransparency) s->m_WatermarkTransparency = *o.watermarkTransparency;
    } else {
        s->m_WatermarkFile[0] = 0;
    }
    if (!o.ad.empty()) {
        picture::Bitmap picture;
        const picture::Error err = picture::LoadPicture(o.ad, picture);
        if (err != picture::Error::None) {
            Say("--ad %s: %s", o.ad, picture::ErrorText(err));
            return false;
        }
        platform::WStrCopy(s->m_AdFile, platform::FromUtf8(o.ad));
        s->m_AdImageWidth = picture.Width();
        s->m_AdImageHeight = picture.Height();
        platform::WStrCopy(s->m_AdLink, platform::FromUtf8(o.adLink));
    } else {
        s->m_AdFile[0] = 0;
    }
    if (o.formats)
        for (int i = 0; i < 3; ++i)
            s->m_DefaultFormats[i] = (*o.formats)[i] ? -1 : 0;
    if (o.webmCodec) e.GetMoreSettings()->m_DefaultWebmCodec = *o.webmCodec;
    if (o.sizeIndex) {
        ChooseDefaultSize(*s, *o.sizeIndex);
        if (*o.sizeIndex == kSizeCustom) s->m_OutputWidth = o.size.a, s->m_OutputHeight = o.size.b;
    }
    if (o.resize) s->m_ResizeMethod = *o.resize;
    if (o.autoplay) s->m_Autoplay = *o.autoplay ? -1 : 0;
    if (o.controls) s->m_Controls = *o.controls ? -1 : 0;
    if (o.loop) s->m_Loop = *o.loop ? -1 : 0;

    Project* p = e.CreateProject(media, 0, 0);
    if (!p) {
        Say("the project could not be made (see the log)");
        return false;
    }
    *out = p;
    if (o.noCaptions) e.SetCaptionsEnabled(0);
    for (const auto& [file, language] : o.captions) {
        WCHAR message[kMaxPath] = {};
        if (e.AddCaptionFile(platform::FromUtf8(file).c_str(), platform::FromUtf8(language).c_str(),
                             message) != kCaptionAdded) {
            Say("--captions %s", platform::ToUtf8(message));
            return false;
        }
    }
    if (!o.templateName.empty()) {
        const int found = FindTemplate(e, o.templateName);
        if (found < 0) return false;
        p->m_Templete = found;
    }
    for (OrientationOp op : o.turns)
        e.RotateFlip(op);
    if (o.crop) {
        const auto& c = *o.crop;
        if (int64_t(c[0]) + c[2] > p->m_VideoWidth || int64_t(c[1]) + c[3] > p->m_VideoHeight) {
            Say("--crop: the rectangle reaches beyond the %s picture",
                std::to_string(p->m_VideoWidth) + " x " + std::to_string(p->m_VideoHeight));
            return false;
        }
        p->m_CropLeft = c[0];
        p->m_CropTop = c[1];
        p->m_CropWidth = c[2];
        p->m_CropHeight = c[3];
        // "Original" follows the crop, as the program's edit panel makes it.
        FollowCrop(*p);
    }
    if (o.brightness) p->m_Brightness = *o.brightness;
    if (o.contrast) p->m_Contrast = *o.contrast;
    for (const auto& [index, value] : o.effects) {
        // In the order of kEffects.
        int32_t* const ints[] = {&p->m_Hue,          &p->m_Saturation,      &p->m_Lightness,
                                 nullptr,            &p->m_BlurExpandEdge,  nullptr,
                                 nullptr,            &p->m_TintHue,         &p->m_TintAmount,
                                 &p->m_CyanRed,      &p->m_MagentaGreen,    &p->m_YellowBlue,
                                 &p->m_LevelsHighlight, &p->m_LevelsMidtone, &p->m_LevelsShadow,
                                 &p->m_Exposure,     &p->m_Density,         &p->m_WhiteSaturation,
                                 &p->m_BlackSaturation};
        static_assert(std::size(ints) == std::size(kEffects));
        float* const floats[] = {&p->m_BlurRadius, &p->m_SharpenRadius, &p->m_SharpenAmount};
        if (index == 3 || index == 5 || index == 6)
            *floats[index == 3 ? 0 : index - 4] = float(value);
        else if (index == 4)
            p->m_BlurExpandEdge = value ? -1 : 0; // as the dialog's check box stores it
        else
            *ints[index] = value;
    }
    if (!o.watermark.empty() && o.watermarkAt) {
        p->m_WatermarkLeft = o.watermarkAt->a;
        p->m_WatermarkTop = o.watermarkAt->b;
    }
    if (!o.ad.empty() && o.adSize) {
        p->m_AdWidth = o.adSize->a;
        p->m_AdHeight = o.adSize->b;
    }
    if (o.clipStart) p->m_ClipStart = *o.clipStart;
    if (o.clipStop) p->m_ClipStop = *o.clipStop;
    if (p->m_ClipStart >= media->m_Duration && media->m_Duration > 0) {
        Say("--start: the video is only %s long", SecondsToText(media->m_Duration / 1000000));
        return false;
    }
    if (p->m_ClipStop > media->m_Duration) p->m_ClipStop = 0; // to the end
    return true;
}

// The progress dialog's line: percent, elapsed and remaining time.
std::string ProgressLine(const Talvoricer& t, std::chrono::steady_clock::time_point start) {
    const int64_t elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count();
    if (t.m_Duration <= 0 || t.m_Pts >= t.m_Duration)
        return "100%  elapsed " + SecondsToText(elapsedMs / 1000) + "  finishing";
    const int64_t percent = std::max<int64_t>(t.m_Pts, 0) * 100 / t.m_Duration;
    std::string line = std::to_string(percent) + "%  elapsed " + SecondsToText(elapsedMs / 1000);
    if (percent > 1) {
        const int64_t total = elapsedMs * t.m_Duration / t.m_Pts;
        line += "  remaining " + SecondsToText((total - elapsedMs) / 1000);
    }
    return line;
}

int Encode(Engine& e, Window& w, const CliOptions& o) {
    w.Messages().clear();
    Talvoricer* status = e.StartEncoding(w.Handle());
    if (!status) {
        Say("Failed ! The encoding could not be started (see the log).");
        return kExitEncode;
    }
    const std::string folder = platform::ToUtf8(e.GetOutputFolder());
    if (!o.quiet) std::fprintf(stderr, "Encoding into %s\n", folder.c_str());
    const auto start = std::chrono::steady_clock::now();
    const bool tty = isatty(2);
    // A job of a batch tells every percent: the batch shows them its own way.
    const int step = std::getenv(kBatchJobVariable) ? 1 : 10;
    int lastPercentShown = -10;
    int result = -1;
    bool soundFailed = false;
    while (result < 0) {
        if (!w.Pump(500)) {
            e.FinishEncoding(1);
            if (!o.quiet && tty) std::fprintf(stderr, "\n");
            Say("cancelled; %s removed", folder);
            return kExitCancelled;
        }
        int done = 0;
        for (const Message& m : w.Messages()) {
            if (m.msg == kMsgEncoderDone && m.wParam != kEncoderOk) result = 1;
            if (m.msg == kMsgAudioFed && m.wParam != kAudioFedAll) result = 1, soundFailed = true;
            if (m.msg == kMsgEncoderDone && m.wParam == kEncoderOk) ++done;
        }
        if (result < 0 && done >= status->m_cEncoder) result = 0;
        if (!o.quiet) {
            const std::string line = ProgressLine(*status, start);
            if (tty) {
                std::fprintf(stderr, "\r\033[K%s", line.c_str());
            } else {
                // A log, not a terminal: a line every tenth.
                const int percent = std::atoi(line.c_str());
                if (percent >= lastPercentShown + step) {
                    std::fprintf(stderr, "%s\n", line.c_str());
                    lastPercentShown = percent - percent % step;
                }
            }
        }
    }
    if (!o.quiet && tty) std::fprintf(stderr, "\n");
    if (result != 0) {
        e.FinishEncoding(1);
        if (soundFailed)
            Say("Failed ! The sound of the import could not be read (see the log); %s removed",
                folder);
        else
            Say("Failed ! An output could not be encoded (see the log); %s removed", folder);
        return kExitEncode;
    }
    // The package is built under a hidden name and takes its own only now.
    if (e.FinishEncoding(0) != 0) {
        Say("Failed ! The package could not take its name in the output folder (see the log)");
        return kExitEncode;
    }
    return kExitOk;
}

int Run(int argc, char** argv) {
    CliOptions o;
    std::string error;
    if (!ParseCommandLine(argc, argv, &o, &error)) {
        Say("%s", error);
        std::fprintf(stderr, "Try 'reelpage-cli --help'.\n");
        return kExitUsage;
    }
    if (o.help) {
        std::fputs(Usage().c_str(), stdout);
        return kExitOk;
    }
    if (o.version) {
        std::printf("reelpage-cli %s\n", REELPAGE_VERSION);
        return kExitOk;
    }
    for (const std::string* picture : {&o.watermark, &o.ad}) {
        if (!picture->empty() && !Exists(*picture)) {
            Say("%s: no such file", *picture);
            return kExitUsage;
        }
    }
    for (const auto& caption : o.captions) {
        if (!Exists(caption.first)) {
            Say("--captions %s: no such file", caption.first);
            return kExitUsage;
        }
    }
    if (!o.output.empty() && Exists(o.output) == false) {
        Say("--output %s: no such folder", o.output);
        return kExitUsage;
    }

    struct stat st;
    const bool batch =
        o.inputs.size() > 1 ||
        (!o.inputs.empty() && stat(o.inputs[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    if (batch && o.info) {
        Say("--info takes one video file");
        return kExitUsage;
    }

    Engine e;
    if (!e.Complete()) {
        Say("the engine library lacks exports this front end needs");
        return kExitInstallation;
    }
    if (int rc = StartEngine(); rc != kExitOk) return rc;
    if (o.listTemplates) {
        for (int i = 0, n = e.GetTemplateCount(); i < n; ++i)
            std::printf("%d  %s%s\n", i, TemplateName(*e.GetTemplate(i)).c_str(),
                        e.GetTemplate(i)->bHasAd ? "  (advertisement)" : "");
        return kExitOk;
    }
    if (batch) {
        // Said once here rather than by every job.
        if (!o.templateName.empty() && FindTemplate(e, o.templateName) < 0) return kExitUsage;
        return RunBatch(ListBatchInputs(o.inputs, o.recursive),
                        {.options = o.optionWords, .jobs = o.jobs, .quiet = o.quiet});
    }
    Window w;
    char real[4096];
    const std::string& given = o.inputs[0];
    const std::string input = realpath(given.c_str(), real) ? std::string(real) : given;
    int rc = kExitOk;
    MediaInfo* media = Import(e, w, input, o.quiet, &rc);
    if (!media) return rc;
    if (o.info) {
        std::vector<CaptionEntry> captions(size_t(std::max(e.ListCaptions(media, nullptr, 0), 0)));
        captions.resize(size_t(
            std::min<int32_t>(e.ListCaptions(media, captions.data(), int32_t(captions.size())),
                              int32_t(captions.size()))));
        std::fputs((o.json ? MediaInfoJson(*media, captions) : MediaInfoLines(*media, captions))
                       .c_str(),
                   stdout);
        return kExitOk;
    }
    if (!media->m_bVideoStream) {
        Say("%s: Not a movie file", input);
        return kExitImport;
    }
    Project* project = nullptr;
    if (!SetUpProject(e, o, media, &project)) return kExitUsage;
    if (!o.quiet) {
        std::string formats;
        const char* names[3] = {"webm", "mp4", "ogv"};
        for (int i = 0; i < 3; ++i)
            if (project->m_Formats[i])
                formats += (formats.empty() ? "" : ", ") + std::string(names[i]);
        const OutputFrameSize made = ProjectPictureSize(*project);
        std::fprintf(stderr, "%s: %d x %d into %d x %d (%s)\n", input.c_str(),
                     project->m_VideoWidth, project->m_VideoHeight, made.width, made.height,
                     formats.c_str());
    }
    rc = Encode(e, w, o);
    if (rc != kExitOk) {
        e.FreeEncoding();
        return rc;
    }
    WCHAR page[kMaxPath] = {};
    const int published = e.PublishPage(1, page);
    // A caption that could not be made costs only itself: said, not failed.
    WCHAR message[kMaxPath];
    for (int32_t i = 0; e.GetCaptionMessage(i, message); ++i)
        Say("captions: %s", platform::ToUtf8(message));
    const std::string folder = platform::ToUtf8(e.GetOutputFolder());
    e.FreeEncoding();
    if (published != 0 || !Exists(platform::ToUtf8(page))) {
        Say("the page could not be made in %s (see the log)", folder);
        return kExitPublish;
    }
    if (!o.quiet) std::fprintf(stderr, "Package: %s\n", folder.c_str());
    std::printf("%s\n", platform::ToUtf8(page).c_str());
    return kExitOk;
}

} // namespace

} // namespace reelpage::cli

int main(int argc, char** argv) {
    // Stop signals are taken as messages by the wait loop, so that Ctrl-C
    // cancels the job cleanly. Blocked before anything starts a thread or a
    // helper: both inherit the mask, and a helper must not die of the
    // terminal's Ctrl-C on its own.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A reader that goes away (`reelpage-cli VIDEO 2>&1 | head -2`) must not
    // end the job half-way: writes to it fail quietly and the job goes on.
    // Helpers start with default signal actions whatever is set here.
    signal(SIGPIPE, SIG_IGN);
    const int rc = reelpage::cli::Run(argc, argv);
    // Whatever still runs (an import cut short by Ctrl-C) ends with us and
    // leaves nothing half-written behind.
    if (reelpage::cli::g_bEngineStarted)
        reelpage::Bind<reelpage::FnExitEngine>(reelpage::kExitEngine)();
    return rc;
}
