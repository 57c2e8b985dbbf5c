#include "scene/camera_light.h"
#include "scene/keyframes.h"
#include "scene/keyframes_tracks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>

namespace {

constexpr KeyKind H = KeyKind::Hold, T = KeyKind::Transform, Mo = KeyKind::Morph,
                  Me = KeyKind::Mesh;

struct TrackHolder {
    Track* track;
    explicit TrackHolder(const std::vector<TestKey>& keys) : track(makeTestTrack(keys)) {}
    ~TrackHolder() { freeTestTrack(track); }
    const Track& operator*() const { return *track; }
};

float evalFirst(const Track& track, float t, KeyFilter filter, PoseResult* result = nullptr) {
    float out[13] = {-99};
    const PoseResult r = evaluateKeyFloats(track, t, filter, 13, out);
    if (result) *result = r;
    return out[0];
}

TEST(Keyframes, TwoKeysBlendCopyAndMissing) {
    TrackHolder track({{0.0f, T, ramp(13, 0)}, {2.0f, T, ramp(13, 8)}});
    EXPECT_EQ(findSegment(*track, 0.5f), 0);
    EXPECT_FLOAT_EQ(blendFactor(*track, 0, 0.5f), 0.25f);
    PoseResult r;
    EXPECT_EQ(evalFirst(*track, 0.5f, KeyFilter::transformOnly, &r), 2.0f);
    EXPECT_EQ(r, PoseResult::blended);
    EXPECT_EQ(evalFirst(*track, 2.0f, KeyFilter::transformOnly, &r), 8.0f);
    EXPECT_EQ(r, PoseResult::copied);
    EXPECT_EQ(evalFirst(*track, 5.0f, KeyFilter::transformOnly, &r), 8.0f);
    EXPECT_EQ(r, PoseResult::copied);
    EXPECT_EQ(findActiveKey(*track, -1.0f, KeyFilter::transformOnly), -1);
    EXPECT_EQ(findSegment(*track, -1.0f), -1);
    EXPECT_EQ(evalFirst(*track, -1.0f, KeyFilter::transformOnly, &r), -99.0f);
    EXPECT_EQ(r, PoseResult::missing);
}

TEST(Keyframes, HoldStopsBlendingUntilItPasses) {
    // Hold at 1 s: the first key holds until 1 s, then blends toward the key after the Hold
    // across the Hold's segment.
    TrackHolder track({{0.0f, T, ramp(13, 0)}, {1.0f, H, {}}, {2.0f, T, ramp(13, 10)}});
    EXPECT_EQ(findActiveKey(*track, 1.5f, KeyFilter::anyButHold), 0); // Hold is never active
    EXPECT_EQ(evalFirst(*track, 0.0f, KeyFilter::anyButHold), 0.0f);
    EXPECT_EQ(evalFirst(*track, 0.75f, KeyFilter::anyButHold), 0.0f);
    EXPECT_EQ(evalFirst(*track, 1.0f, KeyFilter::anyButHold), 0.0f);
    EXPECT_EQ(evalFirst(*track, 1.5f, KeyFilter::anyButHold), 5.0f);
    EXPECT_EQ(evalFirst(*track, 2.0f, KeyFilter::anyButHold), 10.0f);
    EXPECT_EQ(evalFirst(*track, 7.0f, KeyFilter::anyButHold), 10.0f);
}

TEST(Keyframes, KeyAtExactlyTIsCopiedAndSingleKeysHold) {
    TrackHolder track({{0.0f, T, ramp(13, 0)}, {1.0f, T, ramp(13, 4)}, {3.0f, T, ramp(13, 8)}});
    PoseResult r;
    EXPECT_EQ(evalFirst(*track, 1.0f, KeyFilter::anyButHold, &r), 4.0f);
    EXPECT_EQ(r, PoseResult::copied);
    TrackHolder single({{2.0f, Mo, ramp(7, 3)}});
    EXPECT_EQ(evalFirst(*single, 1.99f, KeyFilter::anyButHold, &r), -99.0f);
    for (float t : {2.0f, 2.5f, 1000.0f}) {
        EXPECT_EQ(evalFirst(*single, t, KeyFilter::anyButHold, &r), 3.0f);
        EXPECT_EQ(r, PoseResult::copied);
    }
    TrackHolder empty({});
    EXPECT_EQ(findActiveKey(*empty, 0.0f, KeyFilter::anyButHold), -1);
    EXPECT_EQ(findSegment(*empty, 0.0f), -1);
}

TEST(Keyframes, CameraBlendsTowardAKeyItWouldNotAccept) {
    // The camera accepts only Transform keys as active, but blends toward whatever follows.
    TrackHolder track({{0.0f, T, ramp(13, 0)}, {1.0f, Me, ramp(20, 100)}});
    float out[13];
    ASSERT_EQ(evaluateKeyFloats(*track, 0.5f, KeyFilter::transformOnly, 13, out),
              PoseResult::blended);
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(out[i], float(i) + (float(100 + i) - float(i)) * 0.5f);
    // From 1 s the Mesh key is not active: the Transform key stays active and is the segment
    // key no more; the last key is the segment, so the Transform key is copied.
    ASSERT_EQ(evaluateKeyFloats(*track, 1.5f, KeyFilter::transformOnly, 13, out),
              PoseResult::copied);
    EXPECT_EQ(out[12], 12.0f);
}

TEST(Keyframes, ActiveKeyBehindSegmentStillStartsTheBlend) {
    // Transform at 0, Morph at 1 (not accepted by the camera), Transform at 3: at 2 s the
    // active key is 0, the segment is 1; the factor is measured across 1..3.
    TrackHolder track({{0.0f, T, ramp(13, 0)}, {1.0f, Mo, ramp(13, 50)}, {3.0f, T, ramp(13, 40)}});
    float out[13];
    ASSERT_EQ(evaluateKeyFloats(*track, 2.0f, KeyFilter::transformOnly, 13, out),
              PoseResult::blended);
    EXPECT_EQ(out[0], 20.0f);
}

TEST(Keyframes, OutOfOrderKeysUseTheLastMatchInStoredOrder) {
    TrackHolder track({{3.0f, T, ramp(13, 30)},
                       {0.0f, T, ramp(13, 0)},
                       {1.0f, T, ramp(13, 10)},
                       {0.5f, T, ramp(13, 5)}});
    // At 2 s keys 1, 2 and 3 lie before t; the last in stored order is 3 (0.5 s).
    EXPECT_EQ(findActiveKey(*track, 2.0f, KeyFilter::transformOnly), 3);
    // Segments: (0 s, 1 s) holds 0.7 s; nothing after holds it; so segment 1.
    EXPECT_EQ(findSegment(*track, 0.7f), 1);
    // At 2 s no pair matches; the last key (0.5 s) lies before t, so it is the segment.
    EXPECT_EQ(findSegment(*track, 2.0f), 3);
    EXPECT_EQ(evalFirst(*track, 2.0f, KeyFilter::transformOnly), 5.0f);
    // Before every key but one.
    EXPECT_EQ(findActiveKey(*track, -0.1f, KeyFilter::transformOnly), -1);
}

TEST(Keyframes, ShortOrMissingBlocksReadAsZero) {
    // A light key of 3 floats (damaged) and a Hold-free unknown kind without data.
    TrackHolder track({{0.0f, KeyKind(3), {}}, {1.0f, T, {1, 2, 3}}, {3.0f, T, ramp(7, 11)}});
    float out[7];
    ASSERT_EQ(evaluateKeyFloats(*track, 0.0f, KeyFilter::anyButHold, 7, out), PoseResult::copied);
    for (float v : out)
        EXPECT_EQ(v, 0.0f);
    ASSERT_EQ(evaluateKeyFloats(*track, 2.0f, KeyFilter::anyButHold, 7, out), PoseResult::blended);
    EXPECT_EQ(out[0], 1.0f + (11.0f - 1.0f) * 0.5f);
    EXPECT_EQ(out[6], 0.0f + (17.0f - 0.0f) * 0.5f);
}

// ---- An independent reference, compared bit for bit on random tracks ----

bool refAccepts(KeyFilter f, KeyKind k) {
    const int kind = int(k);
    if (f == KeyFilter::transformOnly) return kind == 1;
    if (f == KeyFilter::anyButHold) return kind != 0;
    if (f == KeyFilter::pose) return kind == 1 || kind == 2 || kind == 4;
    if (f == KeyFilter::vertices) return kind == 2 || kind == 4;
    return kind == 4;
}

float refFloat(const TrackKey& key, int i) {
    float v = 0.0f;
    if (key.data != nullptr && (i + 1) * 4 <= key.dataBytes) std::memcpy(&v, key.data + i * 4, 4);
    return v;
}

// Reverse scans instead of forward ones; same definition of the winners.
bool refEvaluate(const Track& tr, float t, KeyFilter f, int n, float* out) {
    int active = -1;
    for (int i = tr.keyCount - 1; i >= 0 && active < 0; --i)
        if (tr.keys[i].time <= t && refAccepts(f, tr.keys[i].kind)) active = i;
    int seg = -1;
    for (int i = tr.keyCount - 1; i >= 1 && seg < 0; --i)
        if (tr.keys[i - 1].time <= t && tr.keys[i].time > t) seg = i - 1;
    if (seg < 0 && tr.keyCount > 0 && tr.keys[tr.keyCount - 1].time <= t) seg = tr.keyCount - 1;
    if (active < 0 || seg < 0) return false;
    const bool copy = tr.keys[active].time == t || active == tr.keyCount - 1 ||
                      seg == tr.keyCount - 1 || tr.keys[seg + 1].kind == KeyKind::Hold;
    for (int i = 0; i < n; ++i) {
        const float a = refFloat(tr.keys[active], i);
        if (copy) {
            out[i] = a;
        } else {
            const float t0 = tr.keys[seg].time;
            const float t1 = tr.keys[seg + 1].time;
            const volatile float factor = (t - t0) / (t1 - t0);
            const volatile float delta = refFloat(tr.keys[seg + 1], i) - a;
            const volatile float scaled = delta * factor;
            out[i] = a + scaled;
        }
    }
    return true;
}

TEST(Keyframes, MatchesAReferenceBitForBitOnRandomTracks) {
    std::mt19937 rng(20261207);
    const KeyKind kinds[] = {H, T, Mo, Me, KeyKind(3), T, T};
    const KeyFilter filters[] = {KeyFilter::transformOnly, KeyFilter::anyButHold, KeyFilter::pose};
    int blended = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<TestKey> keys;
        const int count = int(rng() % 7);
        int ticks = int(rng() % 9600) - 2400;
        for (int k = 0; k < count; ++k) {
            // Mostly ascending with ties and occasional steps back.
            ticks += int(rng() % 9) == 0 ? -int(rng() % 4800) : int(rng() % 7200);
            TestKey key{float(ticks) / 4800.0f, kinds[rng() % 7], {}};
            const int floats = rng() % 5 == 0 ? int(rng() % 14) : 13;
            std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
            for (int i = 0; i < floats; ++i)
                key.floats.push_back(value(rng));
            keys.push_back(key);
        }
        TrackHolder track(keys);
        for (int s = 0; s < 8; ++s) {
            float t = float(int(rng() % 40000) - 5000) / 4800.0f;
            if (count > 0 && s % 3 == 0) t = keys[rng() % size_t(count)].time;
            const KeyFilter f = filters[rng() % 3];
            float got[13], want[13];
            std::memset(got, 0x5a, sizeof got);
            std::memset(want, 0x5a, sizeof want);
            const PoseResult r = evaluateKeyFloats(*track, t, f, 13, got);
            const bool found = refEvaluate(*track, t, f, 13, want);
            ASSERT_EQ(r != PoseResult::missing, found) << "round " << round;
            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0) << "round " << round << " t " << t;
            blended += r == PoseResult::blended;
        }
    }
    EXPECT_GT(blended, 1000); // the comparison must have exercised the blend
}

} // namespace
