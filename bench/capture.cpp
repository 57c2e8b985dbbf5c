// Capture speed and memory: the sample scene at 1024x768, as a plain fixed-step run, captured
// to PNG frames and captured to MP4, each the same frames; then the player's peak memory for a
// capture four times as long (flat when nothing grows with the length). Runs the built
// binaries as child processes; usage: bench_capture [FRAMES] (default 120).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

struct Run {
    double seconds = 0.0;
    long maxRssKb = 0; // the player alone (ffmpeg is its child, not counted)
    int status = -1;
};

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

Run run(const std::string& dir, std::vector<std::string> args) {
    Run result;
    const double start = now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.seconds = now() - start;
    result.maxRssKb = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 120;
    const std::string dir = "/tmp/quilm-bench-capture-" + std::to_string(getpid());
    if (std::system(
            ("'" + std::string(QUILM_TOOL_BIN) + "' make-sample " + dir + " >/dev/null").c_str()) !=
        0) {
        std::fprintf(stderr, "bench_capture: could not make the sample scene\n");
        return 1;
    }
    const std::string n = std::to_string(frames);
    const std::vector<std::string> base = {QUILM_BIN, "--headless", "--size", "1024x768",
                                           "--frames"};
    auto with = [&](const std::string& count, std::vector<std::string> more) {
        std::vector<std::string> a = base;
        a.push_back(count);
        a.insert(a.end(), more.begin(), more.end());
        a.push_back("sample.q3d");
        return a;
    };
    const Run plain = run(dir, with(n, {"--fixed-step", "0.0166667"}));
    const Run png = run(dir, with(n, {"--capture", "frames"}));
    const bool haveFfmpeg = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    const Run mp4 = haveFfmpeg ? run(dir, with(n, {"--capture", "clip.mp4"})) : Run{};
    const Run longer = run(dir, with(std::to_string(4 * frames), {"--capture", "frames4"}));
    std::printf("%d frames at 1024x768, 60 per second of music time\n", frames);
    std::printf("  plain --fixed-step : %6.2f s  %6.1f frames/s\n", plain.seconds,
                frames / plain.seconds);
    std::printf("  capture to PNG     : %6.2f s  %6.1f frames/s  %.2fx the plain run\n",
                png.seconds, frames / png.seconds, png.seconds / plain.seconds);
    if (haveFfmpeg)
        std::printf("  capture to MP4     : %6.2f s  %6.1f frames/s  %.2fx the plain run\n",
                    mp4.seconds, frames / mp4.seconds, mp4.seconds / plain.seconds);
    else
        std::printf("  capture to MP4     : skipped, ffmpeg is not installed\n");
    std::printf("  peak memory of the player: %ld KB for %d frames, %ld KB for %d frames\n",
                png.maxRssKb, frames, longer.maxRssKb, 4 * frames);
    std::system(("rm -rf " + dir).c_str());
    const bool ok = plain.status == 0 && png.status == 0 && longer.status == 0 &&
                    (!haveFfmpeg || mp4.status == 0);
    return ok ? 0 : 1;
}
