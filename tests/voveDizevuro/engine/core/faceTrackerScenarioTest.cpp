// Multi-frame runs of the face tracker over synthetic detections, checked from what a host reads
// through faces() and rawFaces().

#include "voveDizevuro/engine/core/faceTracker.h"

#include "tests/support/fakes.h"
#include "tests/support/trackerScenario.h"

#include <gtest/gtest.h>

#include <glm/geometric.hpp>
#include <glm/mat3x3.hpp>
#include <glm/vec3.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {

using kiro::head::Detection;
using kiro::head::Face;
using kiro::head::FaceTracker;
using kiro::test::DetectionOrder;
using kiro::test::FaceAt;
using kiro::test::FaceOfDetection;
using kiro::test::TrackerScenario;
using kiro::test::TrackerSnapshot;
using kiro::test::VecNear;

using Config = FaceTracker::Configuration;

/// Display position of a camera-space point with identity rotation and a camera at `camera`.
glm::vec3 Display(const glm::vec3& p, const glm::vec3& camera = glm::vec3(0.0f)) {
    return glm::vec3(-p.x, -p.y, p.z) + camera;
}

float Fit(const glm::vec3& p) { return std::sqrt(4.0f * p.x * p.x + 4.0f * p.y * p.y + p.z * p.z); }

TEST(FaceTrackerScenario, MainFaceStaysFirstWhileFollowedThenYieldsToTheBestFit) {
    TrackerScenario s;
    // A drifts slowly sideways at 800 mm; B, closer to the display and so a better fit, joins.
    auto a = [](double t) { return glm::vec3(static_cast<float>(0.02 * t) - 20.0f, 0.0f, 800.0f); };
    const glm::vec3 b(30.0f, 10.0f, 500.0f);

    s.Step(0, {FaceAt(a(0))});
    TrackerSnapshot snap = s.Step(50, {FaceAt(a(50))});
    ASSERT_EQ(DetectionOrder(snap), std::vector<int>{0});

    // Every frame in which A is held first adds 50 ms of loss; once more than 600 ms have
    // accumulated (after 13 frames), B takes over and keeps the lead, since it is the best fit.
    for (int k = 1; k <= 30; ++k) {
        const double t = 50.0 + 50.0 * k;
        snap = s.Step(t, {FaceAt(b), FaceAt(a(t))});  // B is detection 0, A detection 1
        SCOPED_TRACE(testing::Message() << "frame " << k);
        ASSERT_EQ(snap.faces.size(), 2u);
        if (k <= 13) {
            EXPECT_EQ(DetectionOrder(snap), (std::vector<int>{1, 0}));
        } else {
            EXPECT_EQ(DetectionOrder(snap), (std::vector<int>{0, 1}));
        }
        // Whatever the order, each face is where its person is.
        EXPECT_TRUE(VecNear(FaceOfDetection(snap, 0)->position, Display(b), 0.01f));
        EXPECT_LT(glm::distance(FaceOfDetection(snap, 1)->position, Display(a(t))), 5.0f);
    }
}

TEST(FaceTrackerScenario, MainFaceKeepsTheLeadWhileDetectionOrderChanges) {
    TrackerScenario s(Config{}, 3);
    // Three people; A starts as the best fit, B walks towards the display and fits better than A
    // from about 550 ms on.
    auto a = [](double t) { return glm::vec3(-150.0f + static_cast<float>(0.05 * t), 0.0f, 650.0f); };
    auto b = [](double t) { return glm::vec3(150.0f, 40.0f, 900.0f - static_cast<float>(0.5 * t)); };
    auto c = [](double t) { return glm::vec3(20.0f, -60.0f, 1100.0f + static_cast<float>(0.1 * t)); };

    bool bFitsBetter = false;
    for (int k = 0; k <= 30; ++k) {
        const double t = 33.0 * k;
        std::vector<glm::vec3> people = {a(t), b(t), c(t)};
        // The detector reports them in a different order each frame.
        std::rotate(people.begin(), people.begin() + k % 3, people.end());
        if (k % 2 == 1) {
            std::swap(people[1], people[2]);
        }
        std::vector<Detection> detections;
        for (const glm::vec3& p : people) {
            detections.push_back(FaceAt(p));
        }
        const TrackerSnapshot snap = s.Step(t, detections);
        if (k == 0) {
            continue;
        }
        SCOPED_TRACE(testing::Message() << "frame " << k);
        ASSERT_EQ(snap.faces.size(), 3u);
        // A stays first, being followed within 100 mm, even once B fits better: the frames in
        // which A is held first add up to less than 600 ms in this run.
        EXPECT_LT(glm::distance(snap.faces[0].position, Display(a(t))), 10.0f);
        bFitsBetter = bFitsBetter || Fit(Display(b(t))) < Fit(Display(a(t)));
        EXPECT_GE(snap.faces[0].rawFaceIndex, 0);
        // Every face sits near one person and no person is shown twice.
        std::vector<int> who;
        for (const Face& face : snap.faces) {
            for (int i = 0; i < 3; ++i) {
                const glm::vec3 person = i == 0 ? a(t) : i == 1 ? b(t) : c(t);
                if (glm::distance(face.position, Display(person)) < 50.0f) {
                    who.push_back(i);
                }
            }
        }
        std::sort(who.begin(), who.end());
        EXPECT_EQ(who, (std::vector<int>{0, 1, 2}));
    }
    EXPECT_TRUE(bFitsBetter);
}

TEST(FaceTrackerScenario, LostMainFaceIsCarriedOnAndDroppedAfterTheBufferLimit) {
    TrackerScenario s;
    // The face moves along camera x at 0.1 mm per ms, seen every 33 ms.
    auto at = [](double t) { return glm::vec3(-100.0f + static_cast<float>(0.1 * t), 10.0f, 700.0f); };
    double t = 0;
    TrackerSnapshot snap;
    for (int k = 0; k <= 25; ++k, t += 33) {
        snap = s.Step(t, {FaceAt(at(t))});
    }
    ASSERT_EQ(snap.faces.size(), 1u);
    Face previous = snap.faces[0];
    const Face lastSeen = previous;
    ASSERT_NEAR(previous.velocity.x, -0.1f, 0.005f);  // display x runs against camera x
    ASSERT_NEAR(previous.velocity.y, 0.0f, 1e-4f);

    // The face vanishes. The frame that starts with more than 600 ms of loss shows nothing; with
    // 33 ms frames that is the 20th (loss 19 * 33 = 627 ms).
    const float decay = std::exp(-33.0f / 100.0f);
    for (int k = 1; k <= 19; ++k, t += 33) {
        snap = s.Step(t, {});
        SCOPED_TRACE(testing::Message() << "lost frame " << k);
        ASSERT_EQ(snap.faces.size(), 1u);
        const Face& predicted = snap.faces[0];
        EXPECT_EQ(predicted.rawFaceIndex, -1);
        EXPECT_TRUE(VecNear(predicted.position, previous.position + previous.velocity * 33.0f, 1e-3f));
        EXPECT_TRUE(VecNear(predicted.velocity, previous.velocity * decay, 1e-6f));
        EXPECT_EQ(predicted.headAngles, previous.headAngles);
        EXPECT_TRUE(snap.rawFaces.empty());
        previous = predicted;
    }
    // The carried face slowed down geometrically, so its whole drift stays below
    // v * 33 / (1 - decay) while exceeding the first step.
    EXPECT_NEAR(previous.velocity.x, lastSeen.velocity.x * std::pow(decay, 19.0f), 1e-6f);
    const float drift = std::fabs(previous.position.x - lastSeen.position.x);
    EXPECT_GT(drift, std::fabs(lastSeen.velocity.x) * 33.0f);
    EXPECT_LT(drift, std::fabs(lastSeen.velocity.x) * 33.0f / (1.0f - decay));

    snap = s.Step(t, {});
    EXPECT_TRUE(snap.faces.empty());
    t += 33;
    snap = s.Step(t, {});
    EXPECT_TRUE(snap.faces.empty());

    // The face comes back somewhere else: a fresh main face, at rest.
    t += 33;
    s.Step(t, {FaceAt({200.0f, 0.0f, 600.0f})});
    t += 33;
    snap = s.Step(t, {FaceAt({200.0f, 0.0f, 600.0f})});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_EQ(snap.faces[0].rawFaceIndex, 0);
    EXPECT_TRUE(VecNear(snap.faces[0].position, {-200.0f, 0.0f, 600.0f}, 0.01f));
}

TEST(FaceTrackerScenario, ReturningMainFaceIsPickedUpAgain) {
    TrackerScenario s;
    auto at = [](double t) { return glm::vec3(-100.0f + static_cast<float>(0.1 * t), 0.0f, 700.0f); };
    double t = 0;
    for (int k = 0; k <= 20; ++k, t += 33) {
        s.Step(t, {FaceAt(at(t))});
    }
    // Hidden for five frames, then seen again where it has moved to meanwhile (within 100 mm of
    // where the tracker carried it).
    for (int k = 0; k < 5; ++k, t += 33) {
        const TrackerSnapshot snap = s.Step(t, {});
        ASSERT_EQ(snap.faces.size(), 1u);
        EXPECT_EQ(snap.faces[0].rawFaceIndex, -1);
    }
    // Another face, a better fit, shows up with it.
    const glm::vec3 other(0.0f, 0.0f, 450.0f);
    TrackerSnapshot snap = s.Step(t, {FaceAt(other), FaceAt(at(t))});
    EXPECT_EQ(DetectionOrder(snap), (std::vector<int>{1, 0}));
    EXPECT_TRUE(VecNear(snap.faces[0].position, Display(at(t)), 0.01f));
    EXPECT_EQ(snap.faces[0].velocity, glm::vec3(0.0f));  // its filter starts afresh
    t += 33;
    // The returned face regains speed.
    for (int k = 0; k < 8; ++k, t += 33) {
        snap = s.Step(t, {FaceAt(other), FaceAt(at(t))});
        EXPECT_EQ(DetectionOrder(snap), (std::vector<int>{1, 0}));
    }
    EXPECT_NEAR(snap.faces[0].velocity.x, -0.1f, 0.01f);
}

TEST(FaceTrackerScenario, ReconfigurationRestartsTracking) {
    TrackerScenario s;
    auto at = [](double t) { return glm::vec3(static_cast<float>(0.1 * t) - 50.0f, 0.0f, 600.0f); };
    double t = 0;
    TrackerSnapshot snap;
    for (int k = 0; k < 15; ++k, t += 33) {
        snap = s.Step(t, {FaceAt(at(t))});
    }
    ASSERT_EQ(snap.faces.size(), 1u);
    ASSERT_LT(snap.faces[0].velocity.x, -0.05f);

    // An invalid configuration changes nothing: the next frame carries on.
    Config invalid;
    invalid.trackLeftEye = invalid.trackRightEye = false;
    s.tracker().UpdateConfiguration(invalid);
    snap = s.Step(t, {FaceAt(at(t))});
    t += 33;
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_LT(snap.faces[0].velocity.x, -0.05f);

    // A valid one moves the camera 100 mm back: one frame without faces, then the face at its
    // new display position, starting at rest and picking up speed again.
    Config moved;
    moved.cameraPosition = {0.0f, 0.0f, 100.0f};
    s.tracker().UpdateConfiguration(moved);
    EXPECT_TRUE(s.tracker().faces().empty());
    snap = s.Step(t, {FaceAt(at(t))});
    t += 33;
    EXPECT_TRUE(snap.faces.empty());
    snap = s.Step(t, {FaceAt(at(t))});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_TRUE(VecNear(snap.faces[0].position, Display(at(t), moved.cameraPosition), 0.01f));
    EXPECT_EQ(snap.faces[0].velocity, glm::vec3(0.0f));
    t += 33;
    for (int k = 0; k < 10; ++k, t += 33) {
        snap = s.Step(t, {FaceAt(at(t))});
        ASSERT_EQ(snap.faces.size(), 1u);
    }
    EXPECT_NEAR(snap.faces[0].velocity.x, -0.1f, 0.01f);
    EXPECT_NEAR(snap.faces[0].position.z, 700.0f, 0.01f);
}

TEST(FaceTrackerScenario, ImageRotationChangeRestartsTracking) {
    TrackerScenario s;
    auto at = [](double t) { return glm::vec3(0.0f, static_cast<float>(0.05 * t) - 40.0f, 650.0f); };
    int emptyFrames = 0;
    for (int k = 0; k < 40; ++k) {
        const double t = 33.0 * k;
        const int rotation = (k >= 10 && k < 25) ? 1 : 0;
        const TrackerSnapshot snap = s.Step(t, {FaceAt(at(t))}, rotation);
        SCOPED_TRACE(testing::Message() << "frame " << k);
        // Frames 0, 10 and 25 see a new rotation (the first frame sees one too) and only
        // record their time; the frames after them start at rest.
        if (k == 0 || k == 10 || k == 25) {
            EXPECT_TRUE(snap.faces.empty());
            ++emptyFrames;
            continue;
        }
        ASSERT_EQ(snap.faces.size(), 1u);
        if (k == 1 || k == 11 || k == 26) {
            EXPECT_EQ(snap.faces[0].velocity, glm::vec3(0.0f));
            EXPECT_TRUE(VecNear(snap.faces[0].position, Display(at(t)), 0.01f));
        } else if (k == 9 || k == 24 || k == 39) {
            // Display y runs against camera y.
            EXPECT_LT(snap.faces[0].velocity.y, -0.02f);
        }
    }
    EXPECT_EQ(emptyFrames, 3);
    EXPECT_TRUE(s.tracker().trackingStarted());
}

TEST(FaceTrackerScenario, GapsNotBelowMaxTrackGapRestartFilters) {
    TrackerScenario s;
    auto at = [](double t) { return glm::vec3(static_cast<float>(0.05 * t), 0.0f, 600.0f); };
    double t = 0;
    TrackerSnapshot snap;
    for (int k = 0; k < 20; ++k, t += 33) {
        snap = s.Step(t, {FaceAt(at(t))});
    }
    ASSERT_NEAR(snap.faces[0].velocity.x, -0.05f, 0.005f);
    t -= 33;

    // 700 ms without frames: the face is measured afresh, at rest, but remains the main face
    // (its carried prediction is within 100 mm).
    t += 700;
    snap = s.Step(t, {FaceAt(at(t))});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_EQ(snap.faces[0].rawFaceIndex, 0);
    EXPECT_EQ(snap.faces[0].velocity, glm::vec3(0.0f));
    EXPECT_TRUE(VecNear(snap.faces[0].position, Display(at(t)), 0.01f));

    // A 500 ms gap keeps the filter: the velocity carries on.
    for (int k = 0; k < 10; ++k) {
        t += 33;
        snap = s.Step(t, {FaceAt(at(t))});
    }
    t += 500;
    snap = s.Step(t, {FaceAt(at(t))});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_LT(snap.faces[0].velocity.x, -0.02f);

    // A five-second gap after which the face is far from where it was carried to: for
    // one frame the carried main face comes first and the real one second; the next frame
    // starts with more than bufferLim of loss and shows only the real face.
    const glm::vec3 far(-200.0f, 50.0f, 700.0f);
    t += 5000;
    snap = s.Step(t, {FaceAt(far)});
    ASSERT_EQ(snap.faces.size(), 2u);
    EXPECT_EQ(snap.faces[0].rawFaceIndex, -1);
    EXPECT_EQ(snap.faces[1].rawFaceIndex, 0);
    EXPECT_EQ(snap.faces[1].velocity, glm::vec3(0.0f));
    t += 33;
    snap = s.Step(t, {FaceAt(far)});
    EXPECT_EQ(DetectionOrder(snap), std::vector<int>{0});
}

TEST(FaceTrackerScenario, FaceWalkingOutOfTheFitRangeIsCarriedThenDropped) {
    TrackerScenario s;
    // Walking away from the display at 1 mm per ms from 1700 mm.
    auto at = [](double t) { return glm::vec3(0.0f, 0.0f, 1700.0f + static_cast<float>(t)); };
    double t = 0;
    int candidateFrames = 0;
    int predictedFrames = 0;
    int emptyFrames = 0;
    for (int k = 0; k < 60; ++k, t += 33) {
        const TrackerSnapshot snap = s.Step(t, {FaceAt(at(t))});
        if (k == 0) {
            continue;
        }
        SCOPED_TRACE(testing::Message() << "frame " << k);
        EXPECT_EQ(snap.rawFaces.size(), 1u);
        ASSERT_LE(snap.faces.size(), 1u);
        if (snap.faces.empty()) {
            ++emptyFrames;
            continue;
        }
        const Face& face = snap.faces[0];
        if (face.rawFaceIndex >= 0) {
            EXPECT_EQ(predictedFrames, 0) << "a measured face after the carried one";
            EXPECT_LT(Fit(face.position), 2000.0f);
            ++candidateFrames;
        } else {
            EXPECT_EQ(emptyFrames, 0);
            ++predictedFrames;
        }
    }
    // The filtered face passes 2000 mm after about 300 ms; it is carried on for a little over
    // 600 ms (19 frames) and then dropped for good, while the person is still seen.
    EXPECT_GE(candidateFrames, 5);
    EXPECT_LE(candidateFrames, 12);
    EXPECT_EQ(predictedFrames, 19);
    EXPECT_GT(emptyFrames, 20);
}

TEST(FaceTrackerScenario, MainFaceTurningAwayYieldsToAnotherFace) {
    TrackerScenario s;
    const glm::vec3 a(0.0f, 0.0f, 600.0f);
    const glm::vec3 b(250.0f, 0.0f, 900.0f);
    bool bLed = false;
    int carriedFrames = 0;
    for (int k = 0; k < 50; ++k) {
        const double t = 40.0 * k;
        // A turns its head by 0.05 rad per frame; beyond pi/4 it is no candidate.
        const float yaw = 0.05f * static_cast<float>(k);
        const TrackerSnapshot snap = s.Step(t, {FaceAt(a, {0.0f, yaw, 0.0f}), FaceAt(b)});
        if (k == 0) {
            continue;
        }
        SCOPED_TRACE(testing::Message() << "frame " << k << " yaw " << yaw);
        ASSERT_FALSE(snap.faces.empty());
        const std::vector<int> order = DetectionOrder(snap);
        if (yaw <= 0.7853982f) {
            EXPECT_EQ(order, (std::vector<int>{0, 1}));
            EXPECT_FLOAT_EQ(snap.faces[0].headAngles.y, yaw);
        } else if (order[0] == -1) {
            // A is carried at its last place with its last head angles while B waits.
            EXPECT_FALSE(bLed);
            EXPECT_EQ(order, (std::vector<int>{-1, 1}));
            EXPECT_TRUE(VecNear(snap.faces[0].position, Display(a), 0.01f));
            EXPECT_NEAR(snap.faces[0].headAngles.y, 0.75f, 1e-6f);
            ++carriedFrames;
        } else {
            EXPECT_EQ(order, std::vector<int>{1});
            bLed = true;
        }
    }
    // 40 ms frames: the loss exceeds 600 ms after 16 carried frames.
    EXPECT_EQ(carriedFrames, 16);
    EXPECT_TRUE(bLed);
}

TEST(FaceTrackerScenario, MovingFaceIsFollowedWithPlausibleVelocity) {
    TrackerScenario s;
    const glm::vec3 start(-150.0f, 30.0f, 500.0f);
    const glm::vec3 velocity(0.15f, -0.05f, 0.3f);  // camera space, mm per ms
    auto at = [&](double t) { return start + velocity * static_cast<float>(t); };
    TrackerSnapshot snap;
    for (int k = 0; k < 90; ++k) {
        const double t = 33.0 * k;
        snap = s.Step(t, {FaceAt(at(t))});
        if (k == 0) {
            continue;
        }
        ASSERT_EQ(snap.faces.size(), 1u) << "frame " << k;
        EXPECT_EQ(snap.faces[0].rawFaceIndex, 0);
        const glm::vec3 v = snap.faces[0].velocity;
        // The filtered speed overshoots while it settles, but within bounds, and never points
        // backwards once moving.
        EXPECT_LT(glm::length(v), 2.5f * glm::length(velocity)) << "frame " << k;
        if (k >= 3) {
            EXPECT_LT(v.x, 0.0f) << "frame " << k;
            EXPECT_GT(v.z, 0.0f) << "frame " << k;
        }
        if (k >= 40) {
            // Converged: display velocity is (-vx, -vy, vz), the position keeps up.
            SCOPED_TRACE(testing::Message() << "frame " << k);
            EXPECT_TRUE(VecNear(v, {-0.15f, 0.05f, 0.3f}, 0.005f));
            EXPECT_LT(glm::distance(snap.faces[0].position, Display(at(t))), 1.0f);
        }
    }
}

TEST(FaceTrackerScenario, RestingFaceWithJitterIsSmoothed) {
    TrackerScenario s;
    const glm::vec3 centre(10.0f, -20.0f, 650.0f);
    float minX = 1e9f;
    float maxX = -1e9f;
    for (int k = 0; k < 80; ++k) {
        // Measurements alternate 1.5 mm either side of the centre along x.
        const glm::vec3 measured = centre + glm::vec3(k % 2 == 0 ? 1.5f : -1.5f, 0.0f, 0.0f);
        const TrackerSnapshot snap = s.Step(33.0 * k, {FaceAt(measured)});
        if (k < 20) {
            continue;
        }
        ASSERT_EQ(snap.faces.size(), 1u);
        minX = std::min(minX, snap.faces[0].position.x);
        maxX = std::max(maxX, snap.faces[0].position.x);
        EXPECT_LT(std::fabs(snap.faces[0].velocity.x), 0.01f);
        EXPECT_LT(std::fabs(snap.faces[0].velocity.y), 1e-4f);
    }
    // The filtered position wanders far less than the 3 mm of the measurements.
    EXPECT_LT(maxX - minX, 0.5f);
    EXPECT_NEAR((minX + maxX) / 2.0f, -centre.x, 0.5f);
}

TEST(FaceTrackerScenario, TiltedCameraMapsMotionIntoDisplaySpace) {
    // Camera pitched by 30 degrees about its x axis and mounted 50 mm above the display origin.
    const float c = std::cos(0.5235988f);
    const float sn = std::sin(0.5235988f);
    Config config;
    config.cameraRotation = glm::mat3(glm::vec3(1.0f, 0.0f, 0.0f), glm::vec3(0.0f, c, sn), glm::vec3(0.0f, -sn, c));
    config.cameraPosition = {0.0f, 50.0f, 0.0f};
    TrackerScenario s(config);
    // Moving straight away from the camera at 0.3 mm per ms.
    auto at = [](double t) { return glm::vec3(0.0f, 0.0f, 500.0f + static_cast<float>(0.3 * t)); };
    TrackerSnapshot snap;
    double t = 0;
    for (int k = 0; k < 60; ++k, t += 33) {
        snap = s.Step(t, {FaceAt(at(t))});
    }
    t -= 33;
    ASSERT_EQ(snap.faces.size(), 1u);
    // Rotated (0, 0, z) is (0, -sin * z, cos * z); flipped, then offset: (0, sin * z + 50, cos * z).
    const float z = at(t).z;
    EXPECT_TRUE(VecNear(snap.faces[0].position, {0.0f, sn * z + 50.0f, c * z}, 1.0f));
    EXPECT_TRUE(VecNear(snap.faces[0].velocity, {0.0f, 0.3f * sn, 0.3f * c}, 0.005f));
}

}  // namespace
