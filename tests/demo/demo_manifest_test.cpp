#include "demo/builtin_demo.h"
#include "demo/demo_manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A small manifest every bad case changes one thing of; lines are numbered as written.
const std::string kHead = "[demo]\n"                 // 1
                          "music = \"tune.mo3\"\n"   // 2
                          "end = \"3:0\"\n"          // 3
                          "[scenes]\n"               // 4
                          "wald = \"wald.q3d\"\n"    // 5
                          "see = \"see.q3d\"\n"      // 6
                          "[logos]\n"                // 7
                          "title = \"title.png\"\n"; // 8
const std::string kGoodCue = "{ timer = 1, from = \"0:0\", to = \"0:63\", rows = 64, scene = "
                             "\"see\", camera = 2 }";

std::string withCues(const std::string& cues) {
    return kHead + "cues = [\n" + cues + "\n]\n"; // the first cue is on line 10
}

struct Parsed {
    bool ok;
    std::string errors;
};

Parsed parse(const std::string& text, DemoManifest& out) {
    static char buffer[4096];
    buffer[0] = '\0';
    ManifestErrors errors{buffer, int(sizeof buffer)};
    const bool ok = parseDemoManifest(text.data(), text.size(), "demo.toml", out, errors);
    return {ok, buffer};
}

TEST(DemoManifest, WrongManifestsSayWhereAndWhatInOneLineEach) {
    const struct {
        const char* what;
        std::string text;
        std::string error; // the whole error text, lines in order
    } cases[] = {
        {"unknown scene",
         withCues("{ timer = 7, from = \"0:0\", to = \"0:1\", rows = 2, scene = \"wld\" }"),
         "demo.toml:10:58: cue 1: unknown scene \"wld\"\n"},
        {"unknown cue key", withCues("{ tmer = 7, from = \"0:0\", to = \"0:1\", rows = 2 }"),
         "demo.toml:10:10: cue 1: unknown key \"tmer\"\ndemo.toml:10:1: cue 1: no \"timer\"\n"},
        {"unknown top key", "musik = 1\n" + withCues(kGoodCue),
         "demo.toml:1:9: unknown key \"musik\"\n"},
        {"unknown demo key", "[demo]\nmusic = \"m.xm\"\nspeed = 3\ncues = [" + kGoodCue + "]\n",
         "demo.toml:3:9: [demo]: unknown key \"speed\"\n"
         "demo.toml:4:68: cue 1: unknown scene \"see\"\n"},
        {"two cue sheets", "cues = []\n" + withCues(kGoodCue),
         "demo.toml:10:8: a second cue sheet (the first is at line 1)\n"},
        {"no music", "cues = [{ timer = 1, from = \"0:0\", to = \"0:1\", rows = 2 }]\n[demo]\n",
         "demo.toml:2:1: [demo]: no music\n"},
        {"to before from", withCues("{ timer = 1, from = \"0:8\", to = \"0:7\", rows = 2 }"),
         "demo.toml:10:33: cue 1: \"to\" 0:7 is before \"from\" 0:8\n"},
        {"duplicate timer",
         withCues(kGoodCue + ",\n{ timer = 1, from = \"1:0\", to = \"1:1\", rows = 2 }"),
         "demo.toml:11:11: cue 2: timer 1 is already cue 1's\n"},
        {"timer past the budget",
         withCues("{ timer = 1024, from = \"0:0\", to = \"0:1\", rows = 2 }"),
         "demo.toml:10:11: cue 1: \"timer\" must be a whole number from 0 to 1023\n"},
        {"rows zero", withCues("{ timer = 1, from = \"0:0\", to = \"0:1\", rows = 0 }"),
         "demo.toml:10:47: cue 1: \"rows\" must be a whole number from 1 to 16384\n"},
        {"rows past the budget",
         withCues("{ timer = 1, from = \"0:0\", to = \"0:1\", rows = 16385 }"),
         "demo.toml:10:47: cue 1: \"rows\" must be a whole number from 1 to 16384\n"},
        {"position out of range",
         withCues("{ timer = 1, from = \"0:256\", to = \"1:1\", rows = 2 }"),
         "demo.toml:10:21: cue 1: \"from\" must be a position \"order:row\" (each 0 to 255)\n"},
        {"position misspelt", withCues("{ timer = 1, from = \"0-0\", to = \"1:1\", rows = 2 }"),
         "demo.toml:10:21: cue 1: \"from\" must be a position \"order:row\" (each 0 to 255)\n"},
        {"pulse without logo",
         withCues("{ timer = 1, from = \"0:0\", to = \"0:1\", rows = 2, overlay = \"pulse\", box = "
                  "[0, 0, 1, 1] }"),
         "demo.toml:10:1: cue 1: overlay \"pulse\" needs a logo\n"},
        {"logo without pulse",
         withCues("{ timer = 1, from = \"0:0\", to = \"0:1\", rows = 2, logo = \"title\" }"),
         "demo.toml:10:57: cue 1: \"logo\" goes with overlay \"pulse\"\n"},
        {"unknown logo in an orbit",
         withCues("{ timer = 1, from = \"0:0\", to = \"0:1\", rows = 2, overlay = \"orbit\", orbit "
                  "= [\"title\", \"x\", \"title\"] }"),
         "demo.toml:10:87: cue 1: unknown logo \"x\"\n"},
        {"unknown overlay",
         withCues("{ timer = 1, from = \"0:0\", to = \"0:1\", rows = 2, overlay = \"fade\" }"),
         "demo.toml:10:60: cue 1: overlay must be one of none, fade-in, fade-out-white, "
         "fade-out-black, final-fade, pulse, orbit\n"},
        {"a camera without scene",
         withCues("{ timer = 1, from = \"0:0\", to = \"0:1\", rows = 2, camera = 1 }"),
         "demo.toml:10:59: cue 1: a camera needs a scene\n"},
        // Characters the reader mishandles reach it as others and are named as themselves.
        {"not ASCII outside strings", "[demo\u00f9]\n",
         "demo.toml:1:6: Error while parsing table header: expected ']', saw '\u00f9'\n"},
        {"the characters that stand in for them", "[demo]\nmusic = \"\ue001\"\n",
         "demo.toml:2:10: private-use characters U+E000 to U+EBFF are not taken\n"},
        {"not TOML", "[demo\n",
         "demo.toml:1:6: Error while parsing table header: expected ']', saw '\\n'\n"},
    };
    for (const auto& c : cases) {
        static DemoManifest out;
        const Parsed parsed = parse(c.text, out);
        EXPECT_FALSE(parsed.ok) << c.what;
        EXPECT_EQ(parsed.errors, c.error) << c.what;
    }
}

TEST(DemoManifest, BudgetsAreRefusedOneOverAndTakenAtTheLimit) {
    for (const int scenes : {kMaxDemoScenes, kMaxDemoScenes + 1}) {
        std::string text = "[demo]\nmusic = \"m.xm\"\n[scenes]\n";
        for (int i = 0; i < scenes; ++i)
            text += "s" + std::to_string(i) + " = \"s.q3d\"\n";
        text += "[logos]\ncues = [{ timer = 1, from = \"0:0\", to = \"0:1\", rows = 2 }]\n";
        static DemoManifest out;
        const Parsed parsed = parse(text, out);
        EXPECT_EQ(parsed.ok, scenes == kMaxDemoScenes) << parsed.errors;
        if (!parsed.ok) {
            EXPECT_EQ(parsed.errors, "demo.toml:36:7: [scenes]: more than 32, the budget\n");
        }
    }
    for (const int cues : {kMaxCues, kMaxCues + 1}) {
        std::string sheet;
        for (int i = 0; i < cues; ++i)
            sheet += (i ? ",\n" : "") + std::string("{ timer = ") + std::to_string(i % 1000) +
                     ", from = \"0:0\", to = \"0:1\", rows = 2 }";
        static DemoManifest out;
        const Parsed parsed = parse(withCues(sheet), out);
        // Past the budget only the count is said; at it, the 1000 timers repeat.
        EXPECT_EQ(parsed.ok, cues == kMaxCues) << parsed.errors.substr(0, 200);
        EXPECT_EQ(parsed.errors.find("more than 512") != std::string::npos, cues > kMaxCues);
    }
}

// Names and comments may be in any script, those characters included.
TEST(DemoManifest, NamesAndCommentsOtherThanAsciiAreTaken) {
    static DemoManifest out;
    const Parsed parsed = parse("# Übersicht: \u00e9t\u00e9 \u3000 \u00a1\n[demo]\nmusic = "
                                "\"M\u00fcsik \\\" \u00e0.xm\"\n[scenes]\n\"\u00fcber\" = "
                                "'\u00dcberblick.q3d'\ncues = [{ timer = 1, from = \"0:0\", to "
                                "= \"0:1\", rows = 2, scene = \"\u00fcber\" }]\n",
                                out);
    ASSERT_TRUE(parsed.ok) << parsed.errors;
    EXPECT_STREQ(out.music, "M\u00fcsik \" \u00e0.xm");
    EXPECT_STREQ(out.sceneFiles[0], "\u00dcberblick.q3d");
}

// make-data writes the built-in demo; it must read back as exactly that demo, scenes and
// logos in the order written (toml++ would hand them over sorted by name).
TEST(DemoManifest, TheBuiltInDemoReadsBackFromItsOwnText) {
    const DemoManifest& builtIn = builtInDemoManifest();
    static DemoManifest out;
    const std::string text = formatDemoManifest(builtIn);
    const Parsed parsed = parse(text, out);
    ASSERT_TRUE(parsed.ok) << parsed.errors;
    EXPECT_STREQ(out.music, "tune.mo3");
    EXPECT_STREQ(out.loading, "loading.jpg");
    EXPECT_EQ(out.rowMs, 3500.0 / 29.0);
    EXPECT_EQ(out.endFirst, kDemoEndFirst);
    EXPECT_EQ(out.endLast, kDemoEndLast);
    ASSERT_EQ(out.sceneCount, kDemoSceneCount);
    for (int i = 0; i < kDemoSceneCount; ++i)
        EXPECT_STREQ(out.sceneFiles[i], kDemoSceneFiles[i]);
    ASSERT_EQ(out.logoCount, kDemoLogoCount);
    for (int i = 0; i < kDemoLogoCount; ++i)
        EXPECT_STREQ(out.logoFiles[i], kDemoLogoFiles[i]);
    ASSERT_EQ(out.cueCount, kCueCount);
    for (int i = 0; i < kCueCount; ++i) {
        const Cue &a = kCues[i], &b = out.cues[i];
        EXPECT_TRUE(a.timer == b.timer && a.first == b.first && a.last == b.last &&
                    a.rows == b.rows && a.scene == b.scene && a.camera == b.camera &&
                    a.factor == b.factor && a.overlay == b.overlay)
            << "cue " << i;
        if (a.overlay == CueOverlay::LogoPulse) {
            EXPECT_TRUE(a.logo == b.logo && a.box.x == b.box.x && a.box.y == b.box.y &&
                        a.box.width == b.box.width && a.box.height == b.box.height)
                << "cue " << i;
        }
        for (int k = 0; a.overlay == CueOverlay::LogoOrbit && k < 3; ++k)
            EXPECT_EQ(a.orbit[k], b.orbit[k]) << "cue " << i;
    }
    // The sheet may also stand before the first table, as TOML reads it as the top level's.
    const size_t sheet = text.find("cues = [");
    const Parsed moved = parse(text.substr(sheet) + text.substr(0, sheet), out);
    EXPECT_TRUE(moved.ok) << moved.errors;
    EXPECT_EQ(out.cueCount, kCueCount);
}

// The built-in durations were rows * 3500 / 29 in single precision; every row count the
// budget allows gives the same float through the manifest's row length.
TEST(DemoManifest, DurationsAtTheDefaultRowLengthAreTheBuiltInOnes) {
    for (int rows = 1; rows <= kMaxCueRows; ++rows)
        ASSERT_EQ(cueDurationMs(rows), float(rows * 3500) / 29.0f) << rows;
    EXPECT_EQ(cueDurationMs(10, 100.0), 1000.0f);
}

TEST(DemoManifest, PositionsPastTheMusicsEndAreNamed) {
    static DemoManifest out;
    const Parsed parsed = parse(
        withCues(kGoodCue + ",\n{ timer = 2, from = \"1:0\", to = \"1:64\", rows = 2 }"), out);
    ASSERT_TRUE(parsed.ok) << parsed.errors;
    MusicShape music;
    music.orders = 2;
    music.rows[0] = 64;
    music.rows[1] = 64;
    char buffer[1024] = "";
    ManifestErrors errors{buffer, int(sizeof buffer)};
    EXPECT_FALSE(checkManifestPositions(out, music, "demo.toml", errors));
    EXPECT_EQ(std::string(buffer),
              "demo.toml:11:33: cue 2: \"to\" 1:64 is past the music's end (order 1 has rows 0 "
              "to 63)\n"
              "demo.toml:3:7: [demo] end 3:0 is past the music's end (orders 0 to 1)\n");
    music.orders = 4;
    music.rows[1] = music.rows[2] = music.rows[3] = 65;
    buffer[0] = '\0';
    EXPECT_TRUE(checkManifestPositions(out, music, "demo.toml", errors)) << buffer;
}

} // namespace
