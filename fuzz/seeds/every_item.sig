BodySignature Fuzz-Everything || every item the grammar has
{
    EnumGroup MotionTypeEnum { "Dynamic" "Kinematic" "User" "Unsolved" }
    EnumGroup Colours { "Red" 'Green' "Blue" }

    PropSection "Stepping" || first whatever its place
    {
        MotionTypeEnum "Motion Type" "Dynamic" || Unsolved bodies are not simulated
        Float "Master Voxel Size" "0.1" MIN= 0.0001 MAX= 100 (0.01 1)
        Int "Substeps" "$F*2" MIN=-3 MAX= 16 READONLY HIDDEN
        Int "Thread Count" "2" MIN= 1 MAX= 256
        Int "Frames Per Second" "24"
    }

    PropSection "Values" ("Motion Type" == "Dynamic") |* every value type *|
    {
        Float "Density" "1000.0" MIN= 0.001 MAX= 100000 (100 2000) || mass per cubic unit
        Vec3f "Gravity" "0" MIN=-1 "-9.8" "frame" (0 1) READONLY
        Vec3i "Resolution" "64" "-2" "frame"
        Int64 "Seed" "0x10"
        String "Label" "take `frame`"
        FileName "Cache File" "liquid.ztp"
        PathName "Folder" "/tmp/x" HIDDEN
        BodyName "Target" ""
        BodyNameList "Colliders" ""
        Toggle "Enabled" "On"
        Colours "Colour" "Blue"
    }

    Channels
    {
        Particle.*
        Vec3f Particle.position 0 0 0
        Vec3f Particle.velocity 0 0 0
        Int Particle.id64 0
        Float Particle.density 1000.0
        Float Particle.droplet 0.5
        Field.*
        Vec3f Field.velocity 0 0 0 (velocity N)
        Float Field.fluid-distance 100000.0 Transport = High
        Float Field.solid-distance 100000.0 Transport = Low
        Float Field.particle-count 0 Keep
        Int Field.flags 0 XN
        Point.*
        Float Point.mass 1.5
        Edge.*
        Triangle.*
        Tet . *
    }
}
