// Scene files: a full file read back, the defaults of a minimal one, photographs found next to the
// file, and for every kind of bad file one SceneError naming the file and the field.

#include "tools/track/sceneFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kiro::track::ReadSceneFile;
using kiro::track::SceneDescription;
using kiro::track::SceneError;
using nlohmann::json;
using testing::StartsWith;

/// A temporary folder per test holding `photos/face.pgm` (64x48, grey level x + 2y) and
/// `photos/garbage.pgm` (not an image); scenes go to `scenes/`.
class SceneFileTest : public testing::Test {
protected:
    SceneFileTest() {
        std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(test.begin(), test.end(), '/', '_');
        folder_ = fs::temp_directory_path() / ("kiroSceneFileTest_" + test);
        fs::remove_all(folder_);
        std::string photo = "P5\n64 48\n255\n";
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x) {
                photo.push_back(static_cast<char>(x + 2 * y));
            }
        }
        Write(folder_ / "photos" / "face.pgm", photo);
        Write(folder_ / "photos" / "garbage.pgm", "not an image");
    }
    ~SceneFileTest() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    static void Write(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    fs::path WriteScene(const std::string& text, const std::string& name = "scene.json") const {
        const fs::path path = folder_ / "scenes" / name;
        Write(path, text);
        return path;
    }

    /// The message of the SceneError reading `path` throws; any other exception fails the test.
    static std::string ErrorOf(const fs::path& path) {
        try {
            (void)ReadSceneFile(path);
        } catch (const SceneError& error) {
            return error.what();
        }
        ADD_FAILURE() << path << " was read without an error";
        return {};
    }

    fs::path folder_;
};

TEST_F(SceneFileTest, ReadsEveryField) {
    const fs::path path = WriteScene(R"({
      "description": "two viewers and a hand",
      "duration": 8.5,
      "camera": {"intrinsics": {"fx": 425.5, "fy": 425.25, "ppx": 422.5, "ppy": 241.25},
                 "position": [0, 150, -5], "rotation": [0.25, -0.5, 0.125]},
      "background": {"infrared": 12, "depth": 2500},
      "appearance": {"gain": 1.5, "noise": 2.5, "speckle": 30, "seed": 4294967295, "otherProjector": true},
      "viewers": [
        {"name": "drawn", "interocularDistance": 58, "glasses": true, "enter": 0.5, "leave": 3,
         "path": [{"time": 0, "position": [0, 0, 600], "yaw": 10, "pitch": -20, "roll": 5},
                  {"time": 2, "position": [120, -40, 560]}]},
        {"name": "photographed", "main": true, "photograph": "../photos/face.pgm", "eyes": [20.5, 24, 44, 25],
         "path": [{"time": 1, "position": [-100, 20, 900]}]}
      ],
      "occluders": [{"size": [80, 150], "infrared": 200, "enter": 1, "leave": 2,
                     "path": [{"time": 1, "position": [-200, 0, 450]}, {"time": 2, "position": [200, 0, 450]}]}]
    })", "turning.json");
    const SceneDescription s = ReadSceneFile(path);
    EXPECT_EQ(std::tie(s.file, s.name, s.description, s.durationS, s.backgroundInfrared, s.backgroundDepthMm),
              std::make_tuple(path, "turning", "two viewers and a hand", 8.5, 12, 2500));
    ASSERT_TRUE(s.camera.intrinsics.has_value());
    const auto& k = *s.camera.intrinsics;
    EXPECT_EQ(std::tie(k.fx, k.fy, k.ppx, k.ppy), std::make_tuple(425.5f, 425.25f, 422.5f, 241.25f));
    EXPECT_EQ(s.camera.position, glm::vec3(0.0f, 150.0f, -5.0f));
    EXPECT_EQ(s.camera.rotation, glm::vec3(0.25f, -0.5f, 0.125f));
    const auto& a = s.appearance;
    EXPECT_EQ(std::tie(a.gain, a.noise, a.speckle, a.seed, a.otherProjector),
              std::make_tuple(1.5f, 2.5f, 30.0f, 4294967295u, true));

    ASSERT_EQ(s.viewers.size(), 2u);
    EXPECT_EQ(s.mainViewer, 1u);
    const auto& drawn = s.viewers[0];
    EXPECT_FALSE(drawn.photograph.has_value());
    EXPECT_EQ(std::tie(drawn.name, drawn.interocularDistanceMm, drawn.glasses, drawn.enterS, drawn.leaveS),
              std::make_tuple("drawn", 58.0f, true, 0.5, std::optional(3.0)));
    ASSERT_EQ(drawn.path.size(), 2u);
    const auto& [t0, p0, yaw0, pitch0, roll0] = drawn.path[0];
    EXPECT_EQ(std::tie(t0, p0, yaw0, pitch0, roll0), std::make_tuple(0.0, glm::vec3(0, 0, 600), 10.0f, -20.0f, 5.0f));
    const auto& [t1, p1, yaw1, pitch1, roll1] = drawn.path[1];
    EXPECT_EQ(std::tie(t1, p1, yaw1, pitch1, roll1), std::make_tuple(2.0, glm::vec3(120, -40, 560), 0.0f, 0.0f, 0.0f));

    const auto& photographed = s.viewers[1];
    EXPECT_EQ(photographed.name, "photographed");
    ASSERT_TRUE(photographed.photograph.has_value());
    const auto& photo = *photographed.photograph;
    EXPECT_EQ(std::tie(photo.width, photo.height, photo.pixels.at(3 * 64 + 5)), std::make_tuple(64, 48, 5 + 2 * 3));
    EXPECT_EQ(photographed.photographEyes, (std::array<float, 4>{20.5f, 24.0f, 44.0f, 25.0f}));
    ASSERT_EQ(photographed.path.size(), 1u);
    EXPECT_EQ(photographed.path[0].timeS, 1.0);

    ASSERT_EQ(s.occluders.size(), 1u);
    const auto& hand = s.occluders[0];
    EXPECT_EQ(std::tie(hand.widthMm, hand.heightMm, hand.infraredLevel, hand.enterS, hand.leaveS),
              std::make_tuple(80.0f, 150.0f, 200, 1.0, std::optional(2.0)));
    ASSERT_EQ(hand.path.size(), 2u);
    EXPECT_EQ(std::tie(hand.path[0].timeS, hand.path[0].position), std::make_tuple(1.0, glm::vec3(-200, 0, 450)));
    EXPECT_EQ(std::tie(hand.path[1].timeS, hand.path[1].position), std::make_tuple(2.0, glm::vec3(200, 0, 450)));
}

TEST_F(SceneFileTest, FillsInDefaults) {
    const SceneDescription s = ReadSceneFile(WriteScene(R"({"duration": 1, "viewers": [
        {"path": [{"time": 0, "position": [0, 0, 600]}]}, {"path": [{"time": 0, "position": [0, 0, 700]}]}],
      "occluders": [{"path": [{"time": 0, "position": [0, 0, 400]}]}]})"));
    EXPECT_EQ(std::tie(s.description, s.backgroundInfrared, s.backgroundDepthMm, s.mainViewer),
              std::make_tuple("", 40, 3000, 0u));
    EXPECT_FALSE(s.camera.intrinsics.has_value());
    EXPECT_EQ(std::tie(s.camera.position, s.camera.rotation), std::make_tuple(glm::vec3(0), glm::vec3(0)));
    const auto& a = s.appearance;
    EXPECT_EQ(std::tie(a.gain, a.noise, a.speckle, a.seed, a.otherProjector),
              std::make_tuple(1.0f, 0.0f, 0.0f, 1u, false));
    ASSERT_EQ(s.viewers.size(), 2u);
    for (std::size_t i = 0; i < s.viewers.size(); ++i) {
        const auto& v = s.viewers[i];
        EXPECT_FALSE(v.photograph.has_value());
        EXPECT_EQ(std::tie(v.name, v.interocularDistanceMm, v.glasses, v.enterS, v.leaveS),
                  std::make_tuple("viewer " + std::to_string(i + 1), 63.0f, false, 0.0, std::optional<double>()));
        ASSERT_EQ(v.path.size(), 1u);
        EXPECT_EQ(std::tie(v.path[0].yawDeg, v.path[0].pitchDeg, v.path[0].rollDeg), std::make_tuple(0.0f, 0.0f, 0.0f));
    }
    ASSERT_EQ(s.occluders.size(), 1u);
    const auto& o = s.occluders[0];
    EXPECT_EQ(std::tie(o.widthMm, o.heightMm, o.infraredLevel, o.enterS, o.leaveS),
              std::make_tuple(90.0f, 180.0f, 90, 0.0, std::optional<double>()));
}

TEST_F(SceneFileTest, FindsPhotographsRelativeToTheFilesFolder) {
    // The test runs elsewhere, so a relative photograph only loads when taken from scenes/.
    const fs::path absolute = fs::absolute(folder_ / "photos" / "face.pgm");
    json scene = json::parse(R"({"duration": 1, "viewers": [
        {"photograph": "../photos/face.pgm", "eyes": [10, 10, 20, 10], "path": [{"time": 0, "position": [0, 0, 600]}]},
        {"eyes": [10, 10, 20, 10], "path": [{"time": 0, "position": [0, 0, 600]}]}]})");
    scene["viewers"][1]["photograph"] = absolute.generic_string();
    const fs::path path = WriteScene(scene.dump());
    const SceneDescription read = ReadSceneFile(path);
    EXPECT_EQ(read.viewers[0].photographPath, path.parent_path() / "../photos/face.pgm");
    EXPECT_EQ(read.viewers[1].photographPath, fs::path(absolute.generic_string()));
    for (const auto& viewer : read.viewers) {
        ASSERT_TRUE(viewer.photograph.has_value());
        EXPECT_EQ(viewer.photograph->width, 64);
    }
}

TEST_F(SceneFileTest, NamesTheFieldOfEveryMistake) {
    const json valid = json::parse(R"({"duration": 4, "camera": {}, "background": {}, "appearance": {},
      "viewers": [
        {"main": true, "photograph": "../photos/face.pgm", "eyes": [20, 20, 40, 20],
         "path": [{"time": 0, "position": [0, 0, 600]}, {"time": 1, "position": [0, 0, 600]}]},
        {"path": [{"time": 0, "position": [0, 0, 800]}]}],
      "occluders": [{"path": [{"time": 0, "position": [0, 0, 400]}]}]})");
    ASSERT_NO_THROW((void)ReadSceneFile(WriteScene(valid.dump())));

    struct Mistake {
        const char* pointer;
        const char* value;  // JSON text; null: remove the field
        const char* message;
    };
    const Mistake mistakes[] = {
        {"/duration", nullptr, "duration: missing"},
        {"/duration", R"("4")", "duration: expected a number"},
        {"/duration", "0", "duration: must be greater than 0 and at most 600"},
        {"/duration", "600.5", "duration: must be greater than 0 and at most 600"},
        {"/description", "5", "description: expected a string"},
        {"/durration", "4", "durration: unknown field"},
        {"/camera", "[]", "camera: expected an object"},
        {"/camera/intrinsics", R"({"fx": 1, "fy": 1, "ppx": 1})", "camera.intrinsics.ppy: missing"},
        {"/camera/intrinsics", R"({"fx": 0, "fy": 1, "ppx": 1, "ppy": 1})", "camera.intrinsics.fx: must be greater than 0"},
        {"/camera/intrinsics/skew", "0", "camera.intrinsics.skew: unknown field"},
        {"/camera/position", R"("above")", "camera.position: expected 3 numbers"},
        {"/camera/rotation", "[180, 1, 0]", "camera.rotation: must turn at most 180 degrees"},
        {"/background/infrared", "255", "background.infrared: must be an integer from 0 to 254"},
        {"/background/infrared", "40.0", "background.infrared: expected an integer"},
        {"/background/depth", "65536", "background.depth: must be an integer from 0 to 65535"},
        {"/appearance/gian", "1", "appearance.gian: unknown field"},
        {"/appearance/gain", "0", "appearance.gain: must be greater than 0 and at most 16"},
        {"/appearance/noise", "65", "appearance.noise: must be between 0 and 64"},
        {"/appearance/speckle", "-1", "appearance.speckle: must be between 0 and 255"},
        {"/appearance/otherProjector", "1", "appearance.otherProjector: expected true or false"},
        {"/appearance/seed", "4294967296", "appearance.seed: must be an integer from 0 to 4294967295"},
        {"/appearance/seed", "18446744073709551615", "appearance.seed: must be an integer from 0 to 4294967295"},
        {"/appearance/seed", "1e30", "appearance.seed: expected an integer"},
        {"/viewers", nullptr, "viewers: missing"},
        {"/viewers", "{}", "viewers: expected an array"},
        {"/viewers", "[]", "viewers: expected 1 to 8 viewers"},
        {"/viewers/8", "{}", "viewers: expected 1 to 8 viewers"},  // nine: the gap fills with nulls
        {"/viewers/1", "5", "viewers[1]: expected an object"},
        {"/viewers/1/nmae", R"("x")", "viewers[1].nmae: unknown field"},
        {"/viewers/1/name", "5", "viewers[1].name: expected a string"},
        {"/viewers/1/main", "true", "viewers[1].main: only one viewer can be main"},
        {"/viewers/0/main", "1", "viewers[0].main: expected true or false"},
        {"/viewers/1/glasses", R"("yes")", "viewers[1].glasses: expected true or false"},
        {"/viewers/1/interocularDistance", "39", "viewers[1].interocularDistance: must be between 40 and 90"},
        {"/viewers/1/enter", "-1", "viewers[1].enter: must be at least 0"},
        {"/viewers/1/leave", "0", "viewers[1].leave: must be later than enter"},
        {"/viewers/1/path", nullptr, "viewers[1].path: missing"},
        {"/viewers/1/path", "[]", "viewers[1].path: expected at least one keyframe"},
        {"/viewers/1/path/0/time", nullptr, "viewers[1].path[0].time: missing"},
        {"/viewers/1/path/0/time", "-0.5", "viewers[1].path[0].time: must be at least 0"},
        {"/viewers/0/path/1/time", "0", "viewers[0].path[1].time: must be later than the keyframe before"},
        {"/viewers/1/path/0/position", "[0, 0]", "viewers[1].path[0].position: expected 3 numbers"},
        {"/viewers/1/path/0/position", R"([0, "0", 600])", "viewers[1].path[0].position[1]: expected a number"},
        {"/viewers/1/path/0/position", "[0, 0, 99]", "viewers[1].path[0].position: z must be between 100 and 5000"},
        {"/viewers/1/path/0/yaw", "91", "viewers[1].path[0].yaw: must be between -90 and 90"},
        {"/viewers/1/path/0/roll", "true", "viewers[1].path[0].roll: expected a number"},
        {"/viewers/1/path/0/speed", "1", "viewers[1].path[0].speed: unknown field"},
        {"/viewers/1/eyes", "[10, 10, 20, 10]", "viewers[1].eyes: only allowed with a photograph"},
        {"/viewers/0/eyes", nullptr, "viewers[0].eyes: missing"},
        {"/viewers/0/eyes", "[20, 20, 40]", "viewers[0].eyes: expected 4 numbers"},
        {"/viewers/0/eyes", "[40, 20, 20, 20]", "viewers[0].eyes: the first eye must be left of the second"},
        {"/viewers/0/eyes", "[20, 20, 21.5, 21]", "viewers[0].eyes: the eyes must be at least 2 pixels apart"},
        {"/viewers/0/eyes", "[20, 20, 64, 20]", "viewers[0].eyes: outside the 64x48 photograph"},
        {"/viewers/0/photograph", "5", "viewers[0].photograph: expected a string"},
        {"/viewers/0/photograph", R"("face.pgm")", "viewers[0].photograph: cannot open image"},
        {"/viewers/0/photograph", R"("../photos/garbage.pgm")", "viewers[0].photograph: cannot read image"},
        {"/occluders", "{}", "occluders: expected an array"},
        {"/occluders/0/size", "[0, 10]", "occluders[0].size: each side must be greater than 0 and at most 1000"},
        {"/occluders/0/infrared", "-1", "occluders[0].infrared: must be an integer from 0 to 254"},
        {"/occluders/0/leave", "-1", "occluders[0].leave: must be later than enter"},
        {"/occluders/0/path", nullptr, "occluders[0].path: missing"},
        {"/occluders/0/path/1", R"({"time": 0, "position": [0, 0, 400]})",
         "occluders[0].path[1].time: must be later than the keyframe before"},
        {"/occluders/0/path/0/yaw", "0", "occluders[0].path[0].yaw: unknown field"},
    };
    for (const Mistake& mistake : mistakes) {
        SCOPED_TRACE(std::string(mistake.pointer) + " = " + (mistake.value ? mistake.value : "(removed)"));
        json scene = valid;
        const json::json_pointer pointer(mistake.pointer);
        if (mistake.value) {
            scene[pointer] = json::parse(mistake.value);
        } else {
            scene.at(pointer.parent_pointer()).erase(pointer.back());
        }
        const fs::path path = WriteScene(scene.dump());
        EXPECT_THAT(ErrorOf(path), StartsWith(path.string() + ": " + mistake.message));
    }
}

TEST_F(SceneFileTest, RejectsFilesThatAreNotScenes) {
    const struct {
        std::string text;
        const char* message;
    } files[] = {
        {"", "not valid JSON: "},
        {R"({"duration": 4,})", "not valid JSON: "},
        {"{\"duration\": 4} // comment", "not valid JSON: "},
        {"[1, 2]", "expected a JSON object"},
        {std::string(100000, '['), "not valid JSON: nested deeper than 64 levels"},
        {R"({"viewers": [], "duration": 1e400})", "not valid JSON: number overflow"},
        {R"({"duration": 1, "viewers": [], "camera": {"position": [0, 1e300, 0]}})", "camera.position[1]: out of range"},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.text.substr(0, 40));
        const fs::path path = WriteScene(file.text);
        EXPECT_THAT(ErrorOf(path), StartsWith(path.string() + ": " + file.message));
    }
    const fs::path missing = folder_ / "scenes" / "missing.json";
    EXPECT_THAT(ErrorOf(missing), StartsWith(missing.string() + ": cannot read the file"));
    const fs::path scenes = folder_ / "scenes";
    EXPECT_EQ(ErrorOf(scenes), scenes.string() + ": cannot read the file: it is a folder");
}

}  // namespace
