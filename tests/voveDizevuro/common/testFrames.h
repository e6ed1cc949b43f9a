#pragma once

// Result frames for tests of the frame types and the frame adapter.

#include "voveDizevuro/common/frame.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiro::test {

/// A frame whose contents the test writes directly; optionally records the order in which its
/// accessors are called.
struct ListFrame final : head::Frame {
    Slice<head::Face const> faces() const override {
        Note("faces");
        return {facesList.data(), facesList.size()};
    }
    Timestamp timestamp() const override {
        Note("timestamp");
        return time;
    }
    bool trackingStarted() const override {
        Note("trackingStarted");
        return started;
    }
    float auxValue() const override {
        Note("auxValue");
        return aux;
    }
    Slice<head::RawFace const> rawFaces() const override {
        Note("rawFaces");
        return {rawFacesList.data(), rawFacesList.size()};
    }
    Slice<head::Detection const> detections() const override {
        Note("detections");
        return {detectionsList.data(), detectionsList.size()};
    }
    head::FrameProfiling profiling() const override {
        Note("profiling");
        return profile;
    }

    void Note(const char* accessor) const {
        if (calls != nullptr) {
            calls->push_back(accessor);
        }
    }

    std::vector<head::Face> facesList;
    Timestamp time{Timestamp::Space::System, 0.0};
    bool started = false;
    float aux = 0.0f;
    std::vector<head::RawFace> rawFacesList;
    std::vector<head::Detection> detectionsList;
    head::FrameProfiling profile{};
    std::vector<std::string>* calls = nullptr;
};

/// Frame number n: every field derives from n, and the array lengths vary with it, so a copy
/// that mixes two frames or keeps stale elements is recognisable (CheckNumberedFrame).
inline ListFrame NumberedFrame(int n) {
    const auto v = static_cast<float>(n);
    ListFrame frame;
    for (int i = 0; i < n % 4; ++i) {
        const auto k = static_cast<float>(i);
        frame.facesList.push_back(head::Face{{v, k, 1.0f}, {v, k, 2.0f}, {v, k, 3.0f}, i});
    }
    frame.time = Timestamp{n % 2 == 0 ? Timestamp::Space::System : Timestamp::Space::Unknown, static_cast<double>(n)};
    frame.started = n % 3 == 0;
    frame.aux = v * 0.5f;
    for (int i = 0; i < 1 + n % 3; ++i) {
        const auto k = static_cast<float>(i);
        frame.rawFacesList.push_back(head::RawFace{{v, k, 4.0f}, {v, k, 5.0f}, {v, k, 6.0f}, n});
    }
    for (int i = 0; i < n % 5; ++i) {
        head::Detection d{};
        d.rightEye = {{v, static_cast<double>(i)}, v};
        d.leftEye = {{v, -static_cast<double>(i)}, v};
        d.extra = {v, static_cast<float>(i), 7.0f};
        d.headAngles = {v, 0.0f, 0.0f};
        frame.detectionsList.push_back(d);
    }
    frame.profile = head::FrameProfiling{n, n + 1, n + 2, n + 3};
    return frame;
}

/// Empty when `frame` is exactly NumberedFrame(n) for the n its timestamp names; otherwise what
/// differs first. Usable on any thread (it asserts nothing itself).
inline std::string NumberedFrameMismatch(const head::Frame& frame) {
    const double ms = frame.timestamp().ms;
    const int n = static_cast<int>(ms);
    if (static_cast<double>(n) != ms) {
        return "timestamp " + std::to_string(ms) + " names no frame";
    }
    const ListFrame expected = NumberedFrame(n);
    const std::string where = "frame " + std::to_string(n) + ": ";
    if (frame.timestamp().space != expected.time.space || frame.trackingStarted() != expected.started ||
        frame.auxValue() != expected.aux) {
        return where + "scalars";
    }
    const auto faces = frame.faces();
    if (faces.size() != expected.facesList.size()) {
        return where + "face count " + std::to_string(faces.size());
    }
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const head::Face& a = faces[i];
        const head::Face& b = expected.facesList[i];
        if (a.position != b.position || a.velocity != b.velocity || a.headAngles != b.headAngles ||
            a.rawFaceIndex != b.rawFaceIndex) {
            return where + "face " + std::to_string(i);
        }
    }
    const auto rawFaces = frame.rawFaces();
    if (rawFaces.size() != expected.rawFacesList.size()) {
        return where + "raw face count " + std::to_string(rawFaces.size());
    }
    for (std::size_t i = 0; i < rawFaces.size(); ++i) {
        const head::RawFace& a = rawFaces[i];
        const head::RawFace& b = expected.rawFacesList[i];
        if (a.rightEye != b.rightEye || a.leftEye != b.leftEye || a.trackedPoint != b.trackedPoint ||
            a.detectionIndex != b.detectionIndex) {
            return where + "raw face " + std::to_string(i);
        }
    }
    const auto detections = frame.detections();
    if (detections.size() != expected.detectionsList.size()) {
        return where + "detection count " + std::to_string(detections.size());
    }
    for (std::size_t i = 0; i < detections.size(); ++i) {
        const head::Detection& a = detections[i];
        const head::Detection& b = expected.detectionsList[i];
        if (a.rightEye.pixel != b.rightEye.pixel || a.rightEye.depth != b.rightEye.depth ||
            a.leftEye.pixel != b.leftEye.pixel || a.leftEye.depth != b.leftEye.depth || a.extra != b.extra ||
            a.headAngles != b.headAngles) {
            return where + "detection " + std::to_string(i);
        }
    }
    const auto p = frame.profiling();
    const auto& q = expected.profile;
    if (p.cameraExposureTime != q.cameraExposureTime || p.faceDetectorStartTime != q.faceDetectorStartTime ||
        p.faceDetectorEndTime != q.faceDetectorEndTime || p.apiTimestamp != q.apiTimestamp) {
        return where + "profiling";
    }
    return {};
}

}  // namespace kiro::test
