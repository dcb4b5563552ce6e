BodySignature Particle-Liquid |* A liquid simulated as particles on a sparse
   grid of tiles, with its velocity splatted into a field each step. *|
{
    EnumGroup MotionTypeEnum { "Dynamic" "Kinematic" "User" "Unsolved" }
    EnumGroup SurfaceTypeEnum { "Smooth" "Sharp" }

    PropSection "Fluid" || what the liquid is made of
    {
        Float "Density" "1000.0" MIN= 0.001 MAX= 100000 (100 2000) || mass per cubic unit
        Float "Viscosity" "0.0" MIN= 0 (0 1) || resistance to shear
        Float "Droplet Threshold" "0.5" MIN= 0 MAX= 1 || particles farther apart leave the surface
        Vec3f "Initial Velocity" "0" MIN= -1000 MAX= 1000 "0" MIN= -1000 MAX= 1000 "0" MIN= -1000 MAX= 1000
        SurfaceTypeEnum "Surface" "Smooth"
        Toggle "Particle Regulation" "On" || keep the particle count per voxel near its target
        Int "Interior Supersampling" "2" MIN= 1 MAX= 8 || particles per voxel edge inside the liquid
        Int "Surface Supersampling" "3" MIN= 1 MAX= 8
    }

    PropSection "Stepping" || the time step; listed first whatever its place here
    {
        MotionTypeEnum "Motion Type" "Dynamic" || Unsolved bodies are not simulated
        Float "Master Voxel Size" "0.1" MIN= 0.0001 MAX= 100 (0.01 1) || edge of one voxel
        Int "Substeps" "1" MIN= 1 MAX= 100 (1 10)
        Float "CFL Number" "1.0" MIN= 0.1 MAX= 10 HIDDEN
        String "Solver Version" "2" READONLY HIDDEN
    }

    PropSection "Output" ("Motion Type" == "Dynamic")
    {
        FileName "Cache File" "liquid.ztp" || where frames are written
        BodyNameList "Colliders" "" || bodies the liquid cannot enter
    }

    Channels
    {
        Particle.*
        Vec3f Particle.position 0 0 0
        Vec3f Particle.velocity 0 0 0
        Int Particle.id64 0
        Float Particle.density 1000.0
        Field.*
        Vec3f Field.velocity 0 0 0 (velocity N)
        Float Field.fluid-distance 100000.0 Transport = High
        Float Field.particle-count 0 Keep
    }
}
