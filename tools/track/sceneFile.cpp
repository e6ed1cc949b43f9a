#include "tools/track/sceneFile.h"

#include <glm/geometric.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

namespace kiro::track {

namespace {

using nlohmann::json;

/// No scene field nests deeper; the limit turns a pathological file into an error early.
constexpr int kMaxNesting = 64;
constexpr std::size_t kMaxViewers = 8;

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

std::filesystem::path PathFromUtf8(const std::string& text) { return std::u8string(text.begin(), text.end()); }

std::string Format(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

/// A JSON value with its field path for messages, e.g. `viewers[1].path[2].position`.
struct Node {
    const json& value;
    std::string path;
};

std::string Child(const Node& parent, std::string_view key) {
    return parent.path.empty() ? std::string(key) : parent.path + "." + std::string(key);
}

/// Turns the parsed JSON into a scene; every check fails with the field's path.
class SceneReader {
public:
    SceneReader(std::string file, std::filesystem::path folder) : file_(std::move(file)), folder_(std::move(folder)) {}

    SceneDescription Read(const json& root) const {
        if (!root.is_object()) {
            throw SceneError(file_ + ": expected a JSON object with the scene's fields");
        }
        const Node scene{root, ""};
        Members(scene, {"description", "duration", "camera", "background", "appearance", "viewers", "occluders"});
        SceneDescription description;
        if (const auto text = Find(scene, "description")) {
            description.description = String(*text);
        }
        description.durationS = AboveUpTo(Get(scene, "duration"), 0.0, 600.0);
        if (const auto camera = Find(scene, "camera")) {
            description.camera = Camera(*camera);
        }
        if (const auto background = Find(scene, "background")) {
            Members(*background, {"infrared", "depth"});
            if (const auto infrared = Find(*background, "infrared")) {
                description.backgroundInfrared = static_cast<int>(Integer(*infrared, 0, 254));
            }
            if (const auto depth = Find(*background, "depth")) {
                description.backgroundDepthMm = static_cast<int>(Integer(*depth, 0, 65535));
            }
        }
        if (const auto appearance = Find(scene, "appearance")) {
            description.appearance = Appearance(*appearance);
        }
        const Node viewers = Get(scene, "viewers");
        const std::vector<Node> viewerNodes = Elements(viewers);
        if (viewerNodes.empty() || viewerNodes.size() > kMaxViewers) {
            Fail(viewers.path, "expected 1 to " + std::to_string(kMaxViewers) + " viewers");
        }
        std::optional<std::size_t> mainViewer;
        for (std::size_t i = 0; i < viewerNodes.size(); ++i) {
            description.viewers.push_back(Viewer(viewerNodes[i], i));
            const auto main = Find(viewerNodes[i], "main");
            if (main && Boolean(*main)) {
                if (mainViewer) {
                    Fail(main->path, "only one viewer can be main (viewers[" + std::to_string(*mainViewer) + "] is)");
                }
                mainViewer = i;
            }
        }
        description.mainViewer = mainViewer.value_or(0);
        if (const auto occluders = Find(scene, "occluders")) {
            for (const Node& occluder : Elements(*occluders)) {
                description.occluders.push_back(Occluder(occluder));
            }
        }
        return description;
    }

private:
    [[noreturn]] void Fail(const std::string& path, const std::string& what) const {
        throw SceneError(file_ + ": " + path + ": " + what);
    }

    /// Checks that `node` is an object with no member outside `known` (an unknown one is a typo).
    void Members(const Node& node, std::initializer_list<std::string_view> known) const {
        if (!node.value.is_object()) {
            Fail(node.path, "expected an object");
        }
        for (const auto& item : node.value.items()) {
            if (std::find(known.begin(), known.end(), item.key()) == known.end()) {
                Fail(Child(node, item.key()), "unknown field");
            }
        }
    }

    std::optional<Node> Find(const Node& object, std::string_view key) const {
        const auto found = object.value.find(key);
        if (found == object.value.end()) {
            return std::nullopt;
        }
        return Node{*found, Child(object, key)};
    }

    Node Get(const Node& object, std::string_view key) const {
        auto found = Find(object, key);
        if (!found) {
            Fail(Child(object, key), "missing");
        }
        return std::move(*found);
    }

    std::vector<Node> Elements(const Node& node) const {
        if (!node.value.is_array()) {
            Fail(node.path, "expected an array");
        }
        std::vector<Node> elements;
        for (std::size_t i = 0; i < node.value.size(); ++i) {
            elements.push_back({node.value[i], node.path + "[" + std::to_string(i) + "]"});
        }
        return elements;
    }

    /// A number that fits a float, as every length, angle and level is stored as one.
    double Number(const Node& node) const {
        if (!node.value.is_number()) {
            Fail(node.path, "expected a number");
        }
        const double value = node.value.get<double>();
        if (!(std::abs(value) <= std::numeric_limits<float>::max())) {
            Fail(node.path, "out of range");
        }
        return value;
    }

    double Between(const Node& node, double low, double high) const {
        const double value = Number(node);
        if (value < low || value > high) {
            Fail(node.path, "must be between " + Format(low) + " and " + Format(high));
        }
        return value;
    }

    double AboveUpTo(const Node& node, double low, double high) const {
        const double value = Number(node);
        if (value <= low || value > high) {
            Fail(node.path, "must be greater than " + Format(low) + " and at most " + Format(high));
        }
        return value;
    }

    double AtLeast(const Node& node, double low) const {
        const double value = Number(node);
        if (value < low) {
            Fail(node.path, "must be at least " + Format(low));
        }
        return value;
    }

    /// An integer in [low, high]; high must not be negative. A float such as 40.0 is rejected.
    std::int64_t Integer(const Node& node, std::int64_t low, std::int64_t high) const {
        if (!node.value.is_number_integer()) {
            Fail(node.path, "expected an integer");
        }
        if (node.value.is_number_unsigned()) {
            const std::uint64_t value = node.value.get<std::uint64_t>();
            if (value <= static_cast<std::uint64_t>(high) && static_cast<std::int64_t>(value) >= low) {
                return static_cast<std::int64_t>(value);
            }
        } else {
            const std::int64_t value = node.value.get<std::int64_t>();
            if (value >= low && value <= high) {
                return value;
            }
        }
        Fail(node.path, "must be an integer from " + std::to_string(low) + " to " + std::to_string(high));
    }

    template <std::size_t N>
    std::array<float, N> Floats(const Node& node) const {
        if (!node.value.is_array() || node.value.size() != N) {
            Fail(node.path, "expected " + std::to_string(N) + " numbers");
        }
        std::array<float, N> values{};
        for (std::size_t i = 0; i < N; ++i) {
            values[i] = static_cast<float>(Number({node.value[i], node.path + "[" + std::to_string(i) + "]"}));
        }
        return values;
    }

    glm::vec3 Vector(const Node& node) const {
        const std::array<float, 3> values = Floats<3>(node);
        return {values[0], values[1], values[2]};
    }

    bool Boolean(const Node& node) const {
        if (!node.value.is_boolean()) {
            Fail(node.path, "expected true or false");
        }
        return node.value.get<bool>();
    }

    std::string String(const Node& node) const {
        if (!node.value.is_string()) {
            Fail(node.path, "expected a string");
        }
        return node.value.get<std::string>();
    }

    SceneCamera Camera(const Node& node) const {
        Members(node, {"intrinsics", "position", "rotation"});
        SceneCamera camera;
        if (const auto intrinsics = Find(node, "intrinsics")) {
            Members(*intrinsics, {"fx", "fy", "ppx", "ppy"});
            const double unbounded = std::numeric_limits<float>::max();
            camera.intrinsics = SceneIntrinsics{static_cast<float>(AboveUpTo(Get(*intrinsics, "fx"), 0.0, unbounded)),
                                                static_cast<float>(AboveUpTo(Get(*intrinsics, "fy"), 0.0, unbounded)),
                                                static_cast<float>(Number(Get(*intrinsics, "ppx"))),
                                                static_cast<float>(Number(Get(*intrinsics, "ppy")))};
        }
        if (const auto position = Find(node, "position")) {
            camera.position = Vector(*position);
        }
        if (const auto rotation = Find(node, "rotation")) {
            camera.rotation = Vector(*rotation);
            if (glm::length(camera.rotation) > 180.0f) {
                Fail(rotation->path, "must turn at most 180 degrees (the vector's length)");
            }
        }
        return camera;
    }

    SceneAppearance Appearance(const Node& node) const {
        Members(node, {"gain", "noise", "speckle", "seed", "otherProjector"});
        SceneAppearance appearance;
        if (const auto gain = Find(node, "gain")) {
            appearance.gain = static_cast<float>(AboveUpTo(*gain, 0.0, 16.0));
        }
        if (const auto noise = Find(node, "noise")) {
            appearance.noise = static_cast<float>(Between(*noise, 0.0, 64.0));
        }
        if (const auto speckle = Find(node, "speckle")) {
            appearance.speckle = static_cast<float>(Between(*speckle, 0.0, 255.0));
        }
        if (const auto otherProjector = Find(node, "otherProjector")) {
            appearance.otherProjector = Boolean(*otherProjector);
        }
        if (const auto seed = Find(node, "seed")) {
            appearance.seed = static_cast<std::uint32_t>(Integer(*seed, 0, std::numeric_limits<std::uint32_t>::max()));
        }
        return appearance;
    }

    /// `enter` and `leave` of a viewer or an occluder.
    template <typename Thing>
    void Presence(const Node& node, Thing& thing) const {
        if (const auto enter = Find(node, "enter")) {
            thing.enterS = AtLeast(*enter, 0.0);
        }
        if (const auto leave = Find(node, "leave")) {
            thing.leaveS = Number(*leave);
            if (*thing.leaveS <= thing.enterS) {
                Fail(leave->path, "must be later than enter");
            }
        }
    }

    /// A keyframe's time and position; times increase strictly along a path.
    template <typename Keyframe>
    Keyframe TimeAndPosition(const Node& node, const std::vector<Keyframe>& before) const {
        Keyframe keyframe;
        const Node time = Get(node, "time");
        keyframe.timeS = AtLeast(time, 0.0);
        if (!before.empty() && keyframe.timeS <= before.back().timeS) {
            Fail(time.path, "must be later than the keyframe before");
        }
        const Node position = Get(node, "position");
        keyframe.position = Vector(position);
        if (keyframe.position.z < 100.0f || keyframe.position.z > 5000.0f) {
            Fail(position.path, "z must be between 100 and 5000");
        }
        return keyframe;
    }

    std::vector<Node> Keyframes(const Node& owner) const {
        const Node path = Get(owner, "path");
        std::vector<Node> keyframes = Elements(path);
        if (keyframes.empty()) {
            Fail(path.path, "expected at least one keyframe");
        }
        return keyframes;
    }

    SceneViewer Viewer(const Node& node, std::size_t index) const {
        Members(node,
                {"name", "main", "photograph", "eyes", "interocularDistance", "glasses", "enter", "leave", "path"});
        SceneViewer viewer;
        const auto name = Find(node, "name");
        viewer.name = name ? String(*name) : "viewer " + std::to_string(index + 1);
        Photograph(node, viewer);
        if (const auto distance = Find(node, "interocularDistance")) {
            viewer.interocularDistanceMm = static_cast<float>(Between(*distance, 40.0, 90.0));
        }
        if (const auto glasses = Find(node, "glasses")) {
            viewer.glasses = Boolean(*glasses);
        }
        Presence(node, viewer);
        for (const Node& keyframeNode : Keyframes(node)) {
            Members(keyframeNode, {"time", "position", "yaw", "pitch", "roll"});
            ViewerKeyframe keyframe = TimeAndPosition(keyframeNode, viewer.path);
            for (auto [key, angle] : {std::pair{"yaw", &keyframe.yawDeg}, std::pair{"pitch", &keyframe.pitchDeg},
                                      std::pair{"roll", &keyframe.rollDeg}}) {
                if (const auto value = Find(keyframeNode, key)) {
                    *angle = static_cast<float>(Between(*value, -90.0, 90.0));
                }
            }
            viewer.path.push_back(keyframe);
        }
        return viewer;
    }

    /// The photograph and its eye positions come together; without them the face is drawn.
    void Photograph(const Node& node, SceneViewer& viewer) const {
        const auto photograph = Find(node, "photograph");
        const auto eyes = Find(node, "eyes");
        if (!photograph) {
            if (eyes) {
                Fail(eyes->path, "only allowed with a photograph");
            }
            return;
        }
        if (!eyes) {
            Fail(Child(node, "eyes"), "missing (the photograph's eye positions are required)");
        }
        viewer.photographEyes = Floats<4>(*eyes);
        const auto [x1, y1, x2, y2] = viewer.photographEyes;
        if (x1 >= x2) {
            Fail(eyes->path, "the first eye must be left of the second (x1 < x2)");
        }
        if (std::hypot(x2 - x1, y2 - y1) < 2.0f) {
            Fail(eyes->path, "the eyes must be at least 2 pixels apart");
        }
        viewer.photographPath = folder_ / PathFromUtf8(String(*photograph));
        try {
            viewer.photograph = LoadGreyImage(viewer.photographPath);
        } catch (const ImageError& error) {
            Fail(photograph->path, error.what());
        }
        const auto width = static_cast<float>(viewer.photograph->width);
        const auto height = static_cast<float>(viewer.photograph->height);
        const auto inside = [&](float x, float y) { return x >= 0.0f && x < width && y >= 0.0f && y < height; };
        if (!inside(x1, y1) || !inside(x2, y2)) {
            Fail(eyes->path, "outside the " + std::to_string(viewer.photograph->width) + "x" +
                                 std::to_string(viewer.photograph->height) + " photograph");
        }
    }

    SceneOccluder Occluder(const Node& node) const {
        Members(node, {"size", "infrared", "enter", "leave", "path"});
        SceneOccluder occluder;
        if (const auto size = Find(node, "size")) {
            const std::array<float, 2> sides = Floats<2>(*size);
            for (const float side : sides) {
                if (side <= 0.0f || side > 1000.0f) {
                    Fail(size->path, "each side must be greater than 0 and at most 1000");
                }
            }
            occluder.widthMm = sides[0];
            occluder.heightMm = sides[1];
        }
        if (const auto infrared = Find(node, "infrared")) {
            occluder.infraredLevel = static_cast<int>(Integer(*infrared, 0, 254));
        }
        Presence(node, occluder);
        for (const Node& keyframeNode : Keyframes(node)) {
            Members(keyframeNode, {"time", "position"});
            occluder.path.push_back(TimeAndPosition(keyframeNode, occluder.path));
        }
        return occluder;
    }

    std::string file_;
    std::filesystem::path folder_;
};

std::string ReadText(const std::filesystem::path& path, const std::string& file) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw SceneError(file + ": cannot read the file: it is a folder");
    }
    errno = 0;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        const int reason = errno;
        throw SceneError(file + ": cannot read the file" +
                         (reason != 0 ? ": " + std::generic_category().message(reason) : std::string()));
    }
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

json Parse(const std::string& text, const std::string& file) {
    const auto limitNesting = [&file](int depth, json::parse_event_t, json&) {
        if (depth >= kMaxNesting) {
            throw SceneError(file + ": not valid JSON: nested deeper than " + std::to_string(kMaxNesting) + " levels");
        }
        return true;
    };
    try {
        return json::parse(text, limitNesting);
    } catch (const json::exception& error) {
        // A syntax error or a number overflow; drop the library's "[json.exception...] " prefix.
        const std::string_view message = error.what();
        const std::size_t start = message.find("] ");
        throw SceneError(file + ": not valid JSON: " +
                         std::string(start == std::string_view::npos ? message : message.substr(start + 2)));
    }
}

}  // namespace

SceneDescription ReadSceneFile(const std::filesystem::path& path) {
    const std::string file = Utf8(path);
    const json root = Parse(ReadText(path, file), file);
    SceneDescription scene = SceneReader(file, path.parent_path()).Read(root);
    scene.file = path;
    scene.name = Utf8(path.stem());
    return scene;
}

}  // namespace kiro::track
