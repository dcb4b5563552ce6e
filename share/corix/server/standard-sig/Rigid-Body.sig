BodySignature Rigid-Body || a solid that moves as one piece
{
    EnumGroup MotionTypeEnum { "Dynamic" "Kinematic" "User" "Unsolved" }
    EnumGroup ShapeApproximation { "Mesh" "Convex Hull" "Box" "Sphere" }

    PropSection "Dynamics"
    {
        Float "Mass" "1.0" MIN= 0.000001 (0.1 100) || in kilograms
        Float "Friction" "0.5" MIN= 0 MAX= 1
        Float "Bounce" "0.2" MIN= 0 MAX= 1
        Vec3f "Initial Velocity" "0" "0" "0"
        Vec3f "Initial Spin" "0" "0" "0" || radians per second about x, y, z
        ShapeApproximation "Collision Shape" "Convex Hull"
        Toggle "Sleep When Still" "Off"
    }

    PropSection "Stepping"
    {
        MotionTypeEnum "Motion Type" "Kinematic"
        Int "Substeps" "1" MIN= 1 MAX= 100
    }

    PropSection "Geometry"
    {
        FileName "Mesh File" "" || the surface, as triangles
        String "Material" "default"
    }

    Channels
    {
        Point.*
        Vec3f Point.velocity 0 0 0
        Triangle.*
        Float Triangle.area 0
        Field.*
        Float Field.solid-distance 100000.0 Keep
    }
}
