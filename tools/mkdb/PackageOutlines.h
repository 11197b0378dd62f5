#pragma once

#include <QImage>
#include <QString>

namespace tarvik {

// How a package looks, drawn from a handful of measures per kind. Apart from the catalogue
// of package types (PackagePictures) because this is all painting: the catalogue says which
// packages there are and in which file format, this only how one of them is drawn.

enum class PackageKind {
    DualInline,   // through-hole, top view
    SmallOutline, // gull-wing leads on two sides, top view
    Quad,         // leads on four sides, top view
    QuadNoLead,   // pads under the body's edge, top view
    Sot,          // tiny transistor body, top view
    SmdTab,       // leads on one side, a soldered tab on the other, top view
    Tab,          // power package standing on its legs, front view
    To92,         // small plastic transistor, front view
    Chip,         // passive chip between two end caps, top view
    MoldedDiode,  // SMD diode with a cathode band, top view
    Axial,        // leads out of both ends, side view
    Radial,       // electrolytic can on two legs, front view
};

struct Outline {
    PackageKind kind;
    int pins = 0;
    double width = 0; // body size in pixels where the kind allows several
    double height = 0;
    bool metalTab = false; // Tab: a bare metal plate with a hole above the body
    bool glass = false;    // Axial: a glass body with the die visible
};

// A picture of the package types' size: the outline (a plain box when there is none) over
// a light background, `label` below it. Needs a QGuiApplication for the text.
QImage drawOutlinePicture(const QString& label, const Outline* outline);

} // namespace tarvik
