// Reading cascades, the pyramid search and the grouping of windows.

#include "detectorFixture.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace kiro::head::cpu::test {
namespace {

/// A one-stage cascade of one stump over a two-rectangle feature in a 4x4 window.
std::string SmallCascade(const std::string& stump = "0 -1 0 0.5", const std::string& rect = "0 0 4 2 -1.",
                         const std::string& tilted = "0") {
    return "<?xml version=\"1.0\"?>\n<!-- a comment -->\n<opencv_storage>\n"
           "<cascade type_id=\"opencv-cascade-classifier\"><stageType>BOOST</stageType>\n"
           "<featureType>HAAR</featureType><height>4</height><width>4</width>\n"
           "<stages><_><maxWeakCount>1</maxWeakCount><stageThreshold>-0.5</stageThreshold>\n"
           "<weakClassifiers><_><internalNodes>" +
           stump +
           "</internalNodes>\n"
           "<leafValues>-1. 1.</leafValues></_></weakClassifiers></_></stages>\n"
           "<features><_><rects><_>" +
           rect + "</_><_>0 2 4 2 1.</_></rects><tilted>" + tilted +
           "</tilted></_></features></cascade>\n</opencv_storage>\n";
}

TEST(HaarCascade, ReadsTheShippedCascades) {
    const HaarCascade faces = LoadCascade(kFaceCascadeAsset);
    EXPECT_EQ(faces.windowWidth, 24);
    EXPECT_EQ(faces.windowHeight, 24);
    EXPECT_EQ(faces.stages.size(), 25u);
    EXPECT_EQ(faces.stages.front().count, 9u);
    EXPECT_EQ(faces.features.size(), 2913u);
    const HaarCascade eyes = LoadCascade(kEyeCascadeAsset);
    EXPECT_EQ(eyes.windowWidth, 20);
    EXPECT_EQ(eyes.stages.size(), 24u);
}

TEST(HaarCascade, ReadsASmallCascade) {
    const HaarCascade cascade = HaarCascade::Parse(SmallCascade());
    ASSERT_EQ(cascade.stumps.size(), 1u);
    EXPECT_FLOAT_EQ(cascade.stumps[0].threshold, 0.5f);
    EXPECT_FLOAT_EQ(cascade.stumps[0].below, -1.0f);
    EXPECT_FLOAT_EQ(cascade.stumps[0].above, 1.0f);
    ASSERT_EQ(cascade.features.size(), 1u);
    EXPECT_EQ(cascade.features[0].count, 2);
    EXPECT_FLOAT_EQ(cascade.features[0].rects[1].weight, 1.0f);
    EXPECT_FLOAT_EQ(cascade.stages[0].threshold, -0.5f);
}

TEST(HaarCascade, RejectsWhatItCannotEvaluate) {
    const std::string valid = SmallCascade();
    const std::string cases[] = {
        "",
        "not xml",
        valid.substr(0, valid.size() / 2),                       // cut short
        "<opencv_storage><cascade></cascade></opencv_storage>",  // elements missing
        "<other>" + valid.substr(valid.find("<cascade")),        // wrong root, unmatched tag
        SmallCascade("0 -1 0 0.5 1 -2 0 0.3"),                   // a tree, not a stump
        SmallCascade("0 -1 7 0.5"),                              // a missing feature
        SmallCascade("0 -1 0 x"),                                // not a number
        SmallCascade("0 -1 0 0.5", "0 0 5 2 -1."),               // a rectangle outside the window
        SmallCascade("0 -1 0 0.5", "0 0 4 2"),                   // a rectangle without weight
        SmallCascade("0 -1 0 0.5", "0 0 4 2 -1.", "1"),          // a tilted feature
    };
    for (const std::string& text : cases) {
        EXPECT_THROW(HaarCascade::Parse(text), std::runtime_error) << text;
    }
}

TEST(CascadeDetector, FindsNothingInImagesSmallerThanItsWindow) {
    CascadeDetector detector(LoadCascade(kFaceCascadeAsset));
    const Image small = Filled(23, 40, 100);
    EXPECT_TRUE(detector.Detect(GreyView{small.pixels.data(), 23, 40, 23}, {}).empty());
    EXPECT_TRUE(detector.Detect(GreyView{}, {}).empty());
}

TEST(CascadeDetector, FindsTheLabelledFaceAtTheSizesItIsAskedFor) {
    const LabelledFace face = ReadLabels().at(0);
    const Image photo = LoadGrey(face.path);
    CascadeDetector detector(LoadCascade(kFaceCascadeAsset));
    const GreyView view{photo.pixels.data(), photo.width, photo.height, photo.width};
    const auto& boxes = detector.Detect(view, {48});
    ASSERT_EQ(boxes.size(), 1u);
    const Box box = boxes[0];
    const glm::dvec2 middle = (face.eyes[0] + face.eyes[1]) * 0.5;
    EXPECT_GT(middle.x, box.x);
    EXPECT_LT(middle.x, box.x + box.width);
    EXPECT_GT(middle.y, box.y);
    EXPECT_LT(middle.y, box.y + box.height / 2);
    // Too small a size range, and a crop beside the face, find nothing.
    EXPECT_TRUE(detector.Detect(view, {24, box.width / 2}).empty());
    EXPECT_TRUE(detector.Detect(view.Crop(box.x + box.width, 0, photo.width - box.x - box.width, box.y), {}).empty());
}

TEST(GroupBoxes, AveragesNeighboursAndDropsWeakOrEnclosedGroups) {
    std::vector<Box> raw;
    for (int i = 0; i < 5; ++i) {
        raw.push_back({100 + i, 50, 40, 40});  // a strong group
    }
    raw.push_back({300, 300, 40, 40});  // alone
    for (int i = 0; i < 4; ++i) {
        raw.push_back({112, 62, 16 + i % 2, 16});  // weaker, inside the strong group
    }
    std::vector<Box> groups;
    std::vector<int> sizes;
    std::vector<int> labels;
    GroupBoxes(raw, 3, 0.2, &groups, &sizes, &labels);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].x, 102);
    EXPECT_EQ(groups[0].width, 40);
    EXPECT_EQ(sizes[0], 5);
    GroupBoxes(raw, 0, 0.2, &groups, &sizes, &labels);
    EXPECT_EQ(groups.size(), 2u);  // the lone box survives; the enclosed group still goes
}

TEST(ResizeBilinear, KeepsFlatImagesAndAveragesHalvings) {
    const std::uint8_t pixels[] = {0, 200, 0, 200, 0, 200, 0, 200};
    GreyImage half;
    ResizeBilinear(GreyView{pixels, 4, 2, 4}, 2, 1, &half);
    ASSERT_EQ(half.pixels.size(), 2u);
    EXPECT_EQ(half.pixels[0], 100);
    EXPECT_EQ(half.pixels[1], 100);
    const Image flat = Filled(7, 5, 77);
    GreyImage larger;
    ResizeBilinear(GreyView{flat.pixels.data(), 7, 5, 7}, 13, 9, &larger);
    for (const std::uint8_t value : larger.pixels) {
        EXPECT_EQ(value, 77);
    }
}

}  // namespace
}  // namespace kiro::head::cpu::test
