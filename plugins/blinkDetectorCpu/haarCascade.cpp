#include "haarCascade.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <utility>

namespace kiro::head::cpu {

namespace {

/// Windows are tried at every second pixel of each pyramid level, a twelfth of the face
/// cascade's window; the grouping still sees several neighbours per face.
constexpr int kWindowStep = 2;

/// The subset of XML that OpenCV's persistence writes: elements, text, comments and the
/// declaration; attributes are skipped.
struct XmlNode {
    std::string_view name;
    std::string_view text;
    std::vector<std::unique_ptr<XmlNode>> children;

    const XmlNode& Child(std::string_view childName) const {
        for (const auto& child : children) {
            if (child->name == childName) {
                return *child;
            }
        }
        throw std::runtime_error("cascade: missing element <" + std::string(childName) + "> in <" + std::string(name) +
                                 ">");
    }
};

class XmlReader {
public:
    explicit XmlReader(std::string_view text) : text_(text) {}

    std::unique_ptr<XmlNode> ReadDocument() {
        SkipMarkup();
        auto root = ReadElement(0);
        SkipMarkup();
        if (position_ != text_.size()) {
            Fail("text after the root element");
        }
        return root;
    }

private:
    static constexpr int kMaxDepth = 32;

    [[noreturn]] void Fail(const char* what) const {
        throw std::runtime_error("cascade: malformed XML at byte " + std::to_string(position_) + ": " + what);
    }

    bool StartsWith(std::string_view prefix) const { return text_.substr(position_).starts_with(prefix); }

    void SkipPast(std::string_view end) {
        const auto found = text_.find(end, position_);
        if (found == std::string_view::npos) {
            Fail("unterminated markup");
        }
        position_ = found + end.size();
    }

    /// Skips white space, comments and declarations.
    void SkipMarkup() {
        for (;;) {
            while (position_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[position_])) != 0) {
                ++position_;
            }
            if (StartsWith("<!--")) {
                SkipPast("-->");
            } else if (StartsWith("<?")) {
                SkipPast("?>");
            } else {
                return;
            }
        }
    }

    std::unique_ptr<XmlNode> ReadElement(int depth) {
        if (depth > kMaxDepth || !StartsWith("<")) {
            Fail("expected an element");
        }
        ++position_;
        auto node = std::make_unique<XmlNode>();
        const std::size_t nameStart = position_;
        while (position_ < text_.size() && text_[position_] != '>' && text_[position_] != '/' &&
               std::isspace(static_cast<unsigned char>(text_[position_])) == 0) {
            ++position_;
        }
        node->name = text_.substr(nameStart, position_ - nameStart);
        const auto tagEnd = text_.find('>', position_);
        if (node->name.empty() || tagEnd == std::string_view::npos) {
            Fail("bad start tag");
        }
        position_ = tagEnd + 1;
        if (text_[tagEnd - 1] == '/') {
            return node;
        }
        std::size_t textStart = position_;
        for (;;) {
            const auto next = text_.find('<', position_);
            if (next == std::string_view::npos) {
                Fail("unterminated element");
            }
            if (node->children.empty()) {
                node->text = text_.substr(textStart, next - textStart);
            }
            position_ = next;
            if (StartsWith("</")) {
                const std::size_t closeName = position_ + 2;
                SkipPast(">");
                if (text_.substr(closeName, position_ - 1 - closeName) != node->name) {
                    Fail("mismatched end tag");
                }
                return node;
            }
            if (StartsWith("<!--")) {
                SkipPast("-->");
            } else {
                node->children.push_back(ReadElement(depth + 1));
            }
            textStart = position_;
        }
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

/// Whitespace-separated numbers of an element's text.
template <typename T>
std::vector<T> Numbers(const XmlNode& node) {
    std::vector<T> values;
    std::string_view text = node.text;
    for (;;) {
        const auto start = text.find_first_not_of(" \t\r\n");
        if (start == std::string_view::npos) {
            return values;
        }
        text.remove_prefix(start);
        T value{};
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc{}) {
            throw std::runtime_error("cascade: bad number in <" + std::string(node.name) + ">");
        }
        values.push_back(value);
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    }
}

template <typename T>
T Number(const XmlNode& node) {
    const auto values = Numbers<T>(node);
    if (values.size() != 1) {
        throw std::runtime_error("cascade: <" + std::string(node.name) + "> must hold one number");
    }
    return values[0];
}

void Require(bool condition, const char* what) {
    if (!condition) {
        throw std::runtime_error(std::string("cascade: ") + what);
    }
}

HaarCascade::Feature ReadFeature(const XmlNode& node, int windowWidth, int windowHeight) {
    for (const auto& child : node.children) {
        if (child->name == "tilted") {
            Require(Number<int>(*child) == 0, "tilted features are not supported");
        }
    }
    HaarCascade::Feature feature{};
    for (const auto& rectNode : node.Child("rects").children) {
        Require(feature.count < 3, "a feature has more than three rectangles");
        const auto values = Numbers<float>(*rectNode);
        Require(values.size() == 5, "a rectangle needs five numbers");
        HaarCascade::Rect rect{static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[2]),
                               static_cast<int>(values[3]), values[4]};
        Require(rect.x >= 0 && rect.y >= 0 && rect.width > 0 && rect.height > 0 && rect.x + rect.width <= windowWidth &&
                    rect.y + rect.height <= windowHeight && std::isfinite(rect.weight),
                "a rectangle lies outside the window");
        feature.rects[static_cast<std::size_t>(feature.count++)] = rect;
    }
    Require(feature.count >= 1, "a feature has no rectangle");
    return feature;
}

}  // namespace

HaarCascade HaarCascade::Parse(std::string_view xml) {
    const auto root = XmlReader(xml).ReadDocument();
    Require(root->name == "opencv_storage" && !root->children.empty(), "not an OpenCV storage file");
    const XmlNode& node = *root->children.front();
    Require(node.Child("stageType").text == "BOOST", "stage type is not BOOST");
    Require(node.Child("featureType").text == "HAAR", "feature type is not HAAR");

    HaarCascade cascade;
    cascade.windowWidth = Number<int>(node.Child("width"));
    cascade.windowHeight = Number<int>(node.Child("height"));
    Require(cascade.windowWidth >= 3 && cascade.windowHeight >= 3 && cascade.windowWidth <= 256 &&
                cascade.windowHeight <= 256,
            "bad window size");
    for (const auto& featureNode : node.Child("features").children) {
        cascade.features.push_back(ReadFeature(*featureNode, cascade.windowWidth, cascade.windowHeight));
    }
    for (const auto& stageNode : node.Child("stages").children) {
        Stage stage{cascade.stumps.size(), 0, Number<float>(stageNode->Child("stageThreshold"))};
        for (const auto& weakNode : stageNode->Child("weakClassifiers").children) {
            const auto nodes = Numbers<double>(weakNode->Child("internalNodes"));
            const auto leaves = Numbers<float>(weakNode->Child("leafValues"));
            // A stump is written as "0 -1 feature threshold": leaf 0 below, leaf 1 above.
            Require(nodes.size() == 4 && nodes[0] == 0 && nodes[1] == -1 && leaves.size() == 2,
                    "only decision stumps are supported");
            const double featureIndex = nodes[2];
            Require(featureIndex >= 0 && featureIndex < static_cast<double>(cascade.features.size()),
                    "a stump names a missing feature");
            cascade.stumps.push_back(
                {static_cast<int>(featureIndex), static_cast<float>(nodes[3]), leaves[0], leaves[1]});
            ++stage.count;
        }
        Require(stage.count > 0, "a stage has no classifier");
        cascade.stages.push_back(stage);
    }
    Require(!cascade.stages.empty(), "the cascade has no stage");
    return cascade;
}

CascadeDetector::CascadeDetector(HaarCascade cascade) : cascade_(std::move(cascade)) {}

const std::vector<Box>& CascadeDetector::Detect(const GreyView& image, const Search& search) {
    raw_.clear();
    groups_.clear();
    const int window = std::max(cascade_.windowWidth, cascade_.windowHeight);
    if (image.Empty() || image.width < cascade_.windowWidth || image.height < cascade_.windowHeight) {
        return groups_;
    }
    const int maxSize = search.maxSize > 0 ? search.maxSize : std::max(image.width, image.height);
    const double step = std::max(search.scaleStep, 1.01);
    for (double scale = std::max(1.0, static_cast<double>(search.minSize) / window);; scale *= step) {
        const int levelWidth = static_cast<int>(image.width / scale);
        const int levelHeight = static_cast<int>(image.height / scale);
        if (levelWidth < cascade_.windowWidth || levelHeight < cascade_.windowHeight ||
            std::lround(window * scale) > maxSize) {
            break;
        }
        ResizeBilinear(image, levelWidth, levelHeight, &level_);
        ScanLevel(scale);
    }
    GroupBoxes(raw_, search.minNeighbours, 0.2, &groups_, &groupSizes_, &labels_);
    return groups_;
}

void CascadeDetector::ScanLevel(double scale) {
    const int width = level_.width;
    const int height = level_.height;
    const auto stride = static_cast<std::ptrdiff_t>(width) + 1;
    sum_.assign(static_cast<std::size_t>(stride * (height + 1)), 0);
    squares_.assign(sum_.size(), 0);
    for (int y = 0; y < height; ++y) {
        std::uint32_t rowSum = 0;
        std::uint64_t rowSquares = 0;
        const std::uint8_t* pixels = level_.pixels.data() + static_cast<std::ptrdiff_t>(y) * width;
        const std::size_t above = static_cast<std::size_t>(y * stride + 1);
        const std::size_t here = above + static_cast<std::size_t>(stride);
        for (int x = 0; x < width; ++x) {
            rowSum += pixels[x];
            rowSquares += static_cast<std::uint64_t>(pixels[x]) * pixels[x];
            sum_[here + static_cast<std::size_t>(x)] = sum_[above + static_cast<std::size_t>(x)] + rowSum;
            squares_[here + static_cast<std::size_t>(x)] = squares_[above + static_cast<std::size_t>(x)] + rowSquares;
        }
    }

    levelStumps_.clear();
    for (const auto& stump : cascade_.stumps) {
        const auto& feature = cascade_.features[static_cast<std::size_t>(stump.feature)];
        LevelStump level{};
        for (std::size_t r = 0; r < static_cast<std::size_t>(feature.count); ++r) {
            const auto& rect = feature.rects[r];
            const auto topLeft = static_cast<std::int32_t>(rect.y * stride + rect.x);
            const auto down = static_cast<std::int32_t>(rect.height * stride);
            level.corners[r] = {topLeft, topLeft + rect.width, topLeft + down, topLeft + down + rect.width};
            level.weights[r] = rect.weight;
        }
        level.threshold = stump.threshold;
        level.below = stump.below;
        level.above = stump.above;
        levelStumps_.push_back(level);
    }

    const int windowWidth = cascade_.windowWidth;
    const int windowHeight = cascade_.windowHeight;
    const int normArea = (windowWidth - 2) * (windowHeight - 2);
    for (int y = 0; y + windowHeight <= height; y += kWindowStep) {
        for (int x = 0; x + windowWidth <= width; x += kWindowStep) {
            const std::ptrdiff_t origin = y * stride + x;
            const int passed = Classify(sum_.data() + origin, squares_.data() + origin, normArea);
            if (passed == static_cast<int>(cascade_.stages.size())) {
                raw_.push_back({static_cast<int>(std::lround(x * scale)), static_cast<int>(std::lround(y * scale)),
                                static_cast<int>(std::lround(windowWidth * scale)),
                                static_cast<int>(std::lround(windowHeight * scale))});
            } else if (passed == 0) {
                // As OpenCV does: a window rejected by the first stage makes its neighbour unlikely.
                x += kWindowStep;
            }
        }
    }
}

int CascadeDetector::Classify(const std::uint32_t* sum, const std::uint64_t* squares, int normArea) const {
    const auto stride = static_cast<std::ptrdiff_t>(level_.width) + 1;
    // The variance of the window without its one-pixel border normalises the feature values.
    const std::ptrdiff_t a = stride + 1;
    const std::ptrdiff_t b = stride + cascade_.windowWidth - 1;
    const std::ptrdiff_t c = (cascade_.windowHeight - 1) * stride + 1;
    const std::ptrdiff_t d = (cascade_.windowHeight - 1) * stride + cascade_.windowWidth - 1;
    const double total = static_cast<double>(static_cast<std::uint32_t>(sum[a] - sum[b] - sum[c] + sum[d]));
    const double square = static_cast<double>(squares[a] - squares[b] - squares[c] + squares[d]);
    const double spread = normArea * square - total * total;
    const auto norm = static_cast<float>(spread > 0.0 ? std::sqrt(spread) : 1.0);

    const LevelStump* stump = levelStumps_.data();
    int passed = 0;
    for (const auto& stage : cascade_.stages) {
        float score = 0.0f;
        for (const LevelStump* end = stump + stage.count; stump != end; ++stump) {
            float value = 0.0f;
            for (std::size_t r = 0; r < 3; ++r) {
                const auto& o = stump->corners[r];
                // Unsigned wrap-around keeps the difference exact, however large the corner values.
                const std::uint32_t area = sum[o[0]] - sum[o[1]] - sum[o[2]] + sum[o[3]];
                value += stump->weights[r] * static_cast<float>(area);
            }
            score += value < stump->threshold * norm ? stump->below : stump->above;
        }
        if (score < stage.threshold) {
            return passed;
        }
        ++passed;
    }
    return passed;
}

void GroupBoxes(const std::vector<Box>& raw, int minNeighbours, double eps, std::vector<Box>* groups,
                std::vector<int>* sizes, std::vector<int>* labels) {
    const auto similar = [eps](const Box& p, const Box& q) {
        const double delta = eps * (std::min(p.width, q.width) + std::min(p.height, q.height)) * 0.5;
        return std::abs(p.x - q.x) <= delta && std::abs(p.y - q.y) <= delta &&
               std::abs(p.x + p.width - q.x - q.width) <= delta && std::abs(p.y + p.height - q.y - q.height) <= delta;
    };
    // Union-find over the similarity relation.
    const std::size_t n = raw.size();
    labels->resize(n);
    std::iota(labels->begin(), labels->end(), 0);
    const auto root = [labels](int i) {
        while ((*labels)[static_cast<std::size_t>(i)] != i) {
            i = (*labels)[static_cast<std::size_t>(i)] =
                (*labels)[static_cast<std::size_t>((*labels)[static_cast<std::size_t>(i)])];
        }
        return i;
    };
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            if (similar(raw[i], raw[j])) {
                (*labels)[static_cast<std::size_t>(root(static_cast<int>(i)))] = root(static_cast<int>(j));
            }
        }
    }
    struct Accumulator {
        double x = 0, y = 0, width = 0, height = 0;
        int count = 0;
    };
    std::vector<Accumulator> sums(n);
    for (std::size_t i = 0; i < n; ++i) {
        Accumulator& s = sums[static_cast<std::size_t>(root(static_cast<int>(i)))];
        s.x += raw[i].x;
        s.y += raw[i].y;
        s.width += raw[i].width;
        s.height += raw[i].height;
        ++s.count;
    }
    std::vector<std::pair<Box, int>> candidates;
    for (const Accumulator& s : sums) {
        if (s.count > minNeighbours) {
            candidates.push_back(
                {{static_cast<int>(std::lround(s.x / s.count)), static_cast<int>(std::lround(s.y / s.count)),
                  static_cast<int>(std::lround(s.width / s.count)), static_cast<int>(std::lround(s.height / s.count))},
                 s.count});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& p, const auto& q) { return p.second > q.second; });
    groups->clear();
    sizes->clear();
    for (const auto& [box, count] : candidates) {
        const bool inside = std::any_of(candidates.begin(), candidates.end(), [&](const auto& other) {
            const Box& o = other.first;
            const int dx = static_cast<int>(std::lround(o.width * eps));
            const int dy = static_cast<int>(std::lround(o.height * eps));
            return &other.first != &box && other.second > std::max(3, count) && box.x >= o.x - dx &&
                   box.y >= o.y - dy && box.x + box.width <= o.x + o.width + dx &&
                   box.y + box.height <= o.y + o.height + dy;
        });
        if (!inside) {
            groups->push_back(box);
            sizes->push_back(count);
        }
    }
}

}  // namespace kiro::head::cpu
