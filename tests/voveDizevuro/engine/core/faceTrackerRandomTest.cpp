// Feeds the face tracker thousands of frames of random, partly malformed detections and checks
// after every frame what a host may rely on.

#include "voveDizevuro/engine/core/faceTracker.h"

#include "tests/support/fakes.h"
#include "tests/support/trackerScenario.h"

#include <gtest/gtest.h>

#include <glm/geometric.hpp>
#include <glm/vec3.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kiro::head::CameraFrame;
using kiro::head::Detection;
using kiro::head::EyeDetection;
using kiro::head::Face;
using kiro::head::FaceTracker;
using kiro::head::RawFace;
using kiro::test::FakeDetector;
using kiro::test::NoImageFrame;
using kiro::test::TestFrame;
using kiro::test::TestIntrinsics;

using Config = FaceTracker::Configuration;

constexpr int kMaxFaces = 4;
constexpr int kFrames = 6000;

bool Finite(const glm::vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool Chance(double p) { return Uniform(0.0, 1.0) < p; }

    double Pixel() {
        static const double special[] = {std::numeric_limits<double>::quiet_NaN(),
                                         std::numeric_limits<double>::infinity(),
                                         -std::numeric_limits<double>::infinity(),
                                         1e300,
                                         -1e300,
                                         3e9,
                                         -3e9,
                                         2147483648.0,
                                         -2147483649.0,
                                         640.0,
                                         480.0,
                                         -0.5,
                                         -1.0,
                                         639.999,
                                         std::numeric_limits<double>::denorm_min()};
        if (Chance(0.5)) {
            return special[Int(0, static_cast<int>(std::size(special)) - 1)];
        }
        return Uniform(-1000.0, 2000.0);
    }

    float Depth() {
        static const float special[] = {std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity(),
                                        -std::numeric_limits<float>::infinity(),
                                        0.0f,
                                        -0.0f,
                                        -0.6f,
                                        1e-30f,
                                        1e30f,
                                        1e37f,
                                        std::numeric_limits<float>::max(),
                                        std::numeric_limits<float>::denorm_min()};
        if (Chance(0.5)) {
            return special[Int(0, static_cast<int>(std::size(special)) - 1)];
        }
        return static_cast<float>(Uniform(-1.0, 6.0));
    }

    float Angle() {
        static const float special[] = {std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity(),
                                        -std::numeric_limits<float>::infinity(), 1e30f, -1e30f,
                                        std::numeric_limits<float>::max()};
        if (Chance(0.3)) {
            return special[Int(0, static_cast<int>(std::size(special)) - 1)];
        }
        return static_cast<float>(Uniform(-4.0, 4.0));
    }

    std::mt19937& rng() { return rng_; }

private:
    std::mt19937 rng_;
};

/// A person in camera space (mm) drifting about in front of the camera.
struct Person {
    glm::vec3 position;
    glm::vec3 velocity;  // mm per ms
};

Config RandomConfig(Generator& g) {
    Config config;
    const int eyes = g.Int(0, 3);  // 0 gives an invalid configuration
    config.trackRightEye = (eyes & 1) != 0;
    config.trackLeftEye = (eyes & 2) != 0;
    auto& p = config.filterProperties;
    // Mostly bounds that accept the people's 64 mm eye distance; some that reject everything,
    // are inverted or are not positive.
    p.interocularDistanceMin = static_cast<float>(g.Uniform(-5.0, 55.0));
    p.interocularDistanceMax = static_cast<float>(g.Chance(0.8) ? g.Uniform(70.0, 120.0) : g.Uniform(20.0, 70.0));
    if (g.Chance(0.1)) {
        p.interocularDistanceMax = std::numeric_limits<float>::quiet_NaN();
    }
    p.maxTrackGap = static_cast<float>(g.Uniform(0.0, 1000.0));
    p.velDampingTime = static_cast<float>(g.Uniform(10.0, 500.0));
    p.minFitDist = static_cast<float>(g.Uniform(0.0, 300.0));
    p.maxFitDist = static_cast<float>(g.Uniform(500.0, 3000.0));
    p.angleYMax = static_cast<float>(g.Chance(0.8) ? g.Uniform(0.6, 1.6) : g.Uniform(0.0, 0.6));
    p.bufferLim = static_cast<float>(g.Uniform(0.0, 2000.0));
    p.mainFaceSkew = {static_cast<float>(g.Uniform(-100.0, 100.0)), static_cast<float>(g.Uniform(-100.0, 100.0)),
                      static_cast<float>(g.Uniform(-200.0, 400.0))};
    p.mainFaceScale = {static_cast<float>(g.Uniform(0.0, 8.0)), static_cast<float>(g.Uniform(0.0, 8.0)),
                       static_cast<float>(g.Uniform(0.0, 2.0))};
    config.cameraPosition = {static_cast<float>(g.Uniform(-100.0, 100.0)),
                             static_cast<float>(g.Uniform(-100.0, 300.0)), static_cast<float>(g.Uniform(-50.0, 50.0))};
    return config;
}

Detection Plausible(Generator& g, const Person& person) {
    const glm::vec3 jitter(static_cast<float>(g.Uniform(-2.0, 2.0)), static_cast<float>(g.Uniform(-2.0, 2.0)),
                           static_cast<float>(g.Uniform(-4.0, 4.0)));
    const glm::vec3 angles(static_cast<float>(g.Uniform(-0.5, 0.5)), static_cast<float>(g.Uniform(-1.2, 1.2)),
                           static_cast<float>(g.Uniform(-0.5, 0.5)));
    return kiro::test::FaceAt(person.position + jitter, angles);
}

void Malform(Generator& g, Detection& d) {
    const int what = g.Int(0, 7);
    EyeDetection& eye = g.Chance(0.5) ? d.rightEye : d.leftEye;
    switch (what) {
        case 0: eye.pixel.x = g.Pixel(); break;
        case 1: eye.pixel.y = g.Pixel(); break;
        case 2: eye.depth = g.Depth(); break;
        case 3: d.headAngles[g.Int(0, 2)] = g.Angle(); break;
        case 4:
            d.rightEye = {{g.Pixel(), g.Pixel()}, g.Depth()};
            d.leftEye = {{g.Pixel(), g.Pixel()}, g.Depth()};
            break;
        case 5: d.headAngles = {g.Angle(), g.Angle(), g.Angle()}; break;
        case 6:
            // Both eyes in one place, or one eye moved a random distance.
            d.leftEye = g.Chance(0.5) ? d.rightEye
                                      : EyeDetection{{d.rightEye.pixel.x + g.Uniform(-200.0, 200.0),
                                                      d.rightEye.pixel.y + g.Uniform(-50.0, 50.0)},
                                                     d.rightEye.depth * static_cast<float>(g.Uniform(0.5, 1.5))};
            break;
        default: std::memset(&d, 0xff, sizeof d); break;  // all NaN
    }
}

/// Whether the tracker may keep an eye: its pixel truncates into the image and its depth is a
/// positive finite number.
bool EyeUsable(const EyeDetection& eye, int width, int height) {
    const double u = eye.pixel.x;
    const double v = eye.pixel.y;
    if (!(u > -1.0 && u < width && v > -1.0 && v < height)) {
        return false;
    }
    return std::isfinite(eye.depth) && eye.depth > 0.0f;
}

std::string Describe(const std::vector<Detection>& detections) {
    std::ostringstream out;
    out.precision(9);
    for (std::size_t i = 0; i < detections.size(); ++i) {
        const Detection& d = detections[i];
        out << "  [" << i << "] right (" << d.rightEye.pixel.x << ", " << d.rightEye.pixel.y << ", "
            << d.rightEye.depth << ") left (" << d.leftEye.pixel.x << ", " << d.leftEye.pixel.y << ", "
            << d.leftEye.depth << ") angles " << kiro::test::ToString(d.headAngles) << "\n";
    }
    return out.str();
}

bool SameFaces(const std::vector<Face>& a, const kiro::Slice<Face const>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(Face)) != 0) {
            return false;
        }
    }
    return true;
}

bool SameRawFaces(const std::vector<RawFace>& a, const kiro::Slice<RawFace const>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data, a.size() * sizeof(RawFace)) == 0);
}

/// Counts the violations of each invariant over the whole run and keeps the details of the
/// first one, so that one broken invariant does not hide the others.
class Tally {
public:
    bool Check(bool ok, const std::string& invariant, const std::function<std::string()>& details) {
        if (!ok) {
            Entry& entry = entries_[invariant];
            if (entry.count++ == 0) {
                entry.first = details();
            }
        }
        return ok;
    }

    void Report() const {
        for (const auto& [invariant, entry] : entries_) {
            ADD_FAILURE() << "Invariant \"" << invariant << "\" violated " << entry.count << " times; first: "
                          << entry.first;
        }
    }

private:
    struct Entry {
        int count = 0;
        std::string first;
    };
    std::map<std::string, Entry> entries_;
};

TEST(FaceTrackerRandom, InvariantsHoldUnderRandomAndMalformedInput) {
    Generator g(20240611u);
    FakeDetector detector(kMaxFaces, kMaxFaces);
    FaceTracker tracker(detector, Config{});
    tracker.CameraDidChange(TestIntrinsics());

    std::vector<Person> people(5);
    for (Person& p : people) {
        p.position = {static_cast<float>(g.Uniform(-200.0, 200.0)), static_cast<float>(g.Uniform(-120.0, 120.0)),
                      static_cast<float>(g.Uniform(450.0, 1500.0))};
        p.velocity = {static_cast<float>(g.Uniform(-0.2, 0.2)), static_cast<float>(g.Uniform(-0.1, 0.1)),
                      static_cast<float>(g.Uniform(-0.3, 0.3))};
    }

    // The detector mostly reports the same people in the same order, now and then reshuffled.
    std::vector<int> order = {0, 1, 2, 3, 4};
    double t = 1000.0;
    int rotation = 0;
    int lastRotation = -1;             // the tracker's view of the image rotation
    std::size_t rawSourceCount = 0;    // detections of the frame the current raw faces come from
    int processedFrames = 0;
    int framesWithFaces = 0;
    int predictedFaces = 0;
    int droppedMalformed = 0;
    int configurationsApplied = 0;
    Tally tally;

    for (int frameIndex = 0; frameIndex < kFrames; ++frameIndex) {
        // Time: mostly a steady frame rate, with repeats, backward steps, gaps and jumps.
        const int step = g.Int(0, 99);
        if (step < 80) {
            t += 33.0 + g.Uniform(-3.0, 3.0);
        } else if (step < 84) {
            // the same timestamp again
        } else if (step < 89) {
            t -= g.Uniform(1.0, 100.0);
        } else if (step < 95) {
            t += g.Uniform(600.0, 5000.0);
        } else if (step < 97) {
            t += g.Uniform(1e5, 1e7);
        } else if (step < 98) {
            t = g.Uniform(-100.0, 100.0);
        } else {
            t -= g.Uniform(1000.0, 20000.0);
        }
        const float dt = 33.0f;
        for (Person& p : people) {
            p.position += p.velocity * dt;
            if (std::fabs(p.position.x) > 250.0f) p.velocity.x = -p.velocity.x;
            if (std::fabs(p.position.y) > 150.0f) p.velocity.y = -p.velocity.y;
            if (p.position.z < 400.0f || p.position.z > 1800.0f) p.velocity.z = -p.velocity.z;
        }
        if (g.Chance(0.01)) {
            rotation = g.Int(0, 3);
        }
        if (g.Chance(0.005)) {
            const Config config = RandomConfig(g);
            tracker.UpdateConfiguration(config);
            configurationsApplied += FaceTracker::IsValid(config) ? 1 : 0;
        }
        if (g.Chance(0.002)) {
            tracker.CameraDidChange(g.Chance(0.5) ? TestIntrinsics()
                                                  : kiro::CameraIntrinsics{640, 480, 300.0f, 250.0f, 550.0f,
                                                                           650.0f, {0, 0, 0, 0, 0}, false});
        }

        // Detections: usually within the maximum, sometimes beyond it; plausible faces of the
        // people, partly malformed, and now and then pure garbage.
        const int count = g.Chance(0.9) ? g.Int(0, kMaxFaces) : g.Int(kMaxFaces + 1, kMaxFaces + 4);
        if (g.Chance(0.05)) {
            std::shuffle(order.begin(), order.end(), g.rng());
        }
        std::vector<Detection> detections;
        for (int i = 0; i < count; ++i) {
            const int who = g.Chance(0.9) ? order[i % order.size()] : g.Int(0, static_cast<int>(people.size()) - 1);
            Detection d = Plausible(g, people[who]);
            if (g.Chance(0.3)) {
                Malform(g, d);
            }
            detections.push_back(d);
        }
        detector.output.detections = detections;

        // The frame: usually the 640x480 camera (calibrated or not), sometimes without images
        // or of an odd size.
        std::unique_ptr<CameraFrame> frame;
        int width = 640;
        int height = 480;
        int frameRotation = rotation;
        const int kind = g.Int(0, 99);
        if (kind < 5) {
            frame = std::make_unique<NoImageFrame>(t);
            width = height = 0;
            frameRotation = lastRotation;
        } else if (kind < 10) {
            width = g.Int(-10, 800);
            height = g.Int(-10, 600);
            frame = std::make_unique<TestFrame>(t, width, height, rotation);
        } else {
            auto testFrame = std::make_unique<TestFrame>(t, 640, 480, rotation);
            if (kind < 55) {
                testFrame->pinhole = TestIntrinsics();
            }
            frame = std::move(testFrame);
        }

        // What the tracker showed before this frame, to compare with frames that only record
        // their time.
        const auto facesBefore = tracker.faces();
        const std::vector<Face> previousFaces(facesBefore.begin(), facesBefore.end());
        const auto rawBefore = tracker.rawFaces();
        const std::vector<RawFace> previousRaw(rawBefore.begin(), rawBefore.end());
        const bool rotationChanges = frameRotation != lastRotation;
        // A time that runs backwards restarts tracking like a rotation change.
        const double lastMs = tracker.timestamp().ms;
        const bool timeRunsBack = !rotationChanges && lastMs >= 0.0 && t < lastMs;
        const bool restarts = rotationChanges || timeRunsBack;
        const bool recordOnly = restarts || lastMs < 0.0;

        tracker.Update(detector.Detect(*frame), *frame, 0.0f);
        lastRotation = frameRotation;

        const auto faces = tracker.faces();
        const auto raw = tracker.rawFaces();
        const Config& config = tracker.configuration();
        const auto& fp = config.filterProperties;
        auto context = [&](const std::string& what) {
            std::ostringstream out;
            out.precision(17);
            out << what << "\nframe " << frameIndex << " at " << t << " ms, rotation " << frameRotation << ", "
                << width << "x" << height << (recordOnly ? ", only recording its time" : "") << "; detections:\n"
                << Describe(detections) << "faces:\n";
            for (const Face& face : faces) {
                out << "  " << kiro::test::ToString(face.position) << " velocity "
                    << kiro::test::ToString(face.velocity) << " rawFaceIndex " << face.rawFaceIndex << "\n";
            }
            return out.str();
        };
        auto check = [&](bool ok, const char* invariant, const std::string& what = std::string()) {
            return tally.Check(ok, invariant, [&] { return context(what); });
        };

        check(tracker.timestamp().ms == t, "the tracker reports the frame's time");
        if (recordOnly) {
            check(SameRawFaces(previousRaw, raw), "a frame that only records its time keeps the raw faces");
            if (restarts) {
                check(faces.empty(), "a rotation change or a time running backwards empties the faces");
            } else {
                check(SameFaces(previousFaces, faces), "a frame that only records its time keeps the faces");
            }
        } else {
            rawSourceCount = detections.size();
            ++processedFrames;
            check(raw.size() <= detections.size(), "no more raw faces than detections");
        }

        // Raw faces: valid, increasing detection indices; finite eyes at an accepted distance;
        // the tracked point per the eye choice.
        int previousIndex = -1;
        for (std::size_t k = 0; k < raw.size(); ++k) {
            const RawFace& r = raw[k];
            const std::string which = "raw face " + std::to_string(k);
            check(r.detectionIndex > previousIndex, "detection indices increase", which);
            previousIndex = r.detectionIndex;
            if (!check(r.detectionIndex >= 0 && static_cast<std::size_t>(r.detectionIndex) < rawSourceCount,
                       "detection indices are valid", which)) {
                continue;
            }
            check(Finite(r.rightEye) && Finite(r.leftEye) && Finite(r.trackedPoint), "raw faces are finite", which);
            check(r.rightEye.z > 0.0f && r.leftEye.z > 0.0f, "eyes lie in front of the camera", which);
            if (recordOnly) {
                continue;
            }
            const Detection& d = detections[r.detectionIndex];
            check(EyeUsable(d.rightEye, width, height) && EyeUsable(d.leftEye, width, height) && Finite(d.headAngles),
                  "only well-formed detections are kept", which);
            const float distance = glm::distance(r.rightEye, r.leftEye);
            check(fp.interocularDistanceMin < distance && distance < fp.interocularDistanceMax,
                  "eye distances lie within the bounds", which);
            const glm::vec3 expected = config.trackRightEye && config.trackLeftEye ? (r.rightEye + r.leftEye) * 0.5f
                                       : config.trackRightEye                      ? r.rightEye
                                                                                   : r.leftEye;
            check(r.trackedPoint == expected, "the tracked point follows the eye choice", which);
        }
        if (!recordOnly) {
            for (std::size_t i = 0; i < detections.size(); ++i) {
                const Detection& d = detections[i];
                if (!EyeUsable(d.rightEye, width, height) || !EyeUsable(d.leftEye, width, height) ||
                    !Finite(d.headAngles)) {
                    ++droppedMalformed;
                }
            }
        }

        // Faces: at most one beyond the raw faces (the predicted main face), and so at most one
        // beyond the reserved maximum while the detector keeps to it.
        check(faces.size() <= raw.size() + 1, "at most one face more than raw faces");
        if (detections.size() <= static_cast<std::size_t>(kMaxFaces)) {
            check(faces.size() <= static_cast<std::size_t>(kMaxFaces) + 1, "at most the maximum plus one faces");
        }
        std::set<int> used;
        for (std::size_t c = 0; c < faces.size(); ++c) {
            const Face& face = faces[c];
            const std::string which = "face " + std::to_string(c);
            check(Finite(face.position), "face positions are finite", which);
            check(Finite(face.velocity), "face velocities are finite", which);
            check(Finite(face.headAngles), "face head angles are finite", which);
            if (face.rawFaceIndex == -1) {
                check(c == 0, "only the first face may be predicted", which);
                ++predictedFaces;
                continue;
            }
            if (!check(face.rawFaceIndex >= 0 && static_cast<std::size_t>(face.rawFaceIndex) < raw.size(),
                       "raw face indices are valid or -1", which)) {
                continue;
            }
            check(used.insert(face.rawFaceIndex).second, "no raw face is shown twice", which);
            const std::size_t detectionIndex = static_cast<std::size_t>(raw[face.rawFaceIndex].detectionIndex);
            if (recordOnly || detectionIndex >= detections.size()) {
                continue;
            }
            const Detection& d = detections[detectionIndex];
            check(face.headAngles == d.headAngles, "faces carry their detection's head angles", which);
            const glm::vec3 sk = face.position - fp.mainFaceSkew;
            const double fit = std::sqrt(double(sk.x) * sk.x * fp.mainFaceScale.x + double(sk.y) * sk.y * fp.mainFaceScale.y +
                                         double(sk.z) * sk.z * fp.mainFaceScale.z);
            check(fit > fp.minFitDist - 1e-3 && fit < fp.maxFitDist + 1e-3, "measured faces lie within the fit bounds",
                  which);
            const double turn = d.headAngles.y + std::atan2(double(face.position.x), double(face.position.z));
            check(std::fabs(turn) <= fp.angleYMax + 1e-5, "measured faces keep to the yaw limit", which);
        }
        if (!faces.empty()) {
            ++framesWithFaces;
        }
    }

    tally.Report();
    // The run exercised the interesting paths.
    EXPECT_GT(processedFrames, kFrames / 2);
    EXPECT_GT(framesWithFaces, kFrames / 3);
    EXPECT_GT(predictedFaces, 50);
    EXPECT_GT(droppedMalformed, 500);
    EXPECT_GT(configurationsApplied, 5);
    EXPECT_TRUE(tracker.trackingStarted());
}

}  // namespace
