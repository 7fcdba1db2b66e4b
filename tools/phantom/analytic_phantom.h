// The phantom as geometry: what CT number and what uptake sit at any point of the patient
// coordinate system. The writer samples it at voxel centres without partial-volume blending,
// so a stored voxel equals the value here at the centre that the file's geometry gives it.
#pragma once

#include <string>
#include <vector>

namespace vexel::phantom {

struct Vec3 {
    double x = 0;
    double y = 0;
    double z = 0;
};

// A regular axial volume centred on the patient origin: the column index runs along +x, the
// row index along +y and the slice index along +z (Image Orientation 1\0\0\0\1\0).
struct VolumeGeometry {
    int columns = 0;
    int rows = 0;
    int slices = 0;
    double pixelSpacingMm = 0;  // between columns (x), and between rows unless set below
    double sliceSpacingMm = 0;  // also the slice thickness
    double rowSpacingMm = 0;    // between rows (y); 0: the same as pixelSpacingMm

    double RowSpacing() const { return rowSpacingMm > 0 ? rowSpacingMm : pixelSpacingMm; }

    // Centre of voxel (column, row) in slice `slice`; slice 0 has the smallest z.
    Vec3 VoxelCenter(double column, double row, int slice) const;
    // Image Position (Patient) of a slice: the centre of its first voxel.
    Vec3 SlicePosition(int slice) const { return VoxelCenter(0, 0, slice); }
    double HalfExtentX() const { return columns * pixelSpacingMm / 2; }
    double HalfExtentY() const { return rows * RowSpacing() / 2; }
    double HalfExtentZ() const { return slices * sliceSpacingMm / 2; }
};

// A ball or a z-aligned rod (a cylinder limited in z) of one material.
struct PhantomShape {
    std::string name;
    bool isRod = false;
    Vec3 center;              // for a rod only x and y count
    double radiusMm = 0;      // sphere radius, or the rod's radius in the x-y plane
    double halfLengthMm = 0;  // rods: |z - center.z| <= halfLengthMm (may be infinite)
    double hu = 0;
    double suv = 0;  // SUVbw at series time

    bool Contains(const Vec3& p) const;
};

class CAnalyticPhantom {
public:
    // Values outside the circular reconstruction field, as many scanners store them.
    static constexpr double kOutsideFovHu = -3024;
    static constexpr double kAirHu = -1000;

    // Shapes sit at fixed millimetre positions times `scale`; the field of view is a circle
    // of radius fovRadiusMm in the x-y plane. The default study has scale 1.
    CAnalyticPhantom(double scale, double fovRadiusMm);
    // Scale = smallest half extent / 100 mm; the circle fills the smaller in-plane extent.
    static CAnalyticPhantom ForGeometry(const VolumeGeometry& geometry);

    double HuAt(const Vec3& p) const;
    // SUVbw at series time: 0 in air and outside the field of view.
    double SuvAt(const Vec3& p) const;
    // The shape that decides the value at p, or null for air / outside the field.
    const PhantomShape* ShapeAt(const Vec3& p) const;
    bool InsideFov(const Vec3& p) const;

    double Scale() const { return m_scale; }
    double FovRadiusMm() const { return m_fovRadius; }
    // Painter's order: later shapes win where shapes overlap (the default shapes do not).
    // [0] "body" water rod, [1] "bone" rod (both through every slice), then the spheres
    // "hot", "cold", "fat", "lung".
    const std::vector<PhantomShape>& Shapes() const { return m_shapes; }
    const PhantomShape* FindShape(const std::string& name) const;

private:
    double m_scale;
    double m_fovRadius;
    std::vector<PhantomShape> m_shapes;
};

}  // namespace vexel::phantom
