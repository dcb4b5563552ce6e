BodySignature Field-Smoke |* Smoke and heat carried by a velocity field;
   its density and temperature are transported each step. *|
{
    EnumGroup MotionTypeEnum { "Dynamic" "Kinematic" "User" "Unsolved" }

    PropSection "Stepping"
    {
        MotionTypeEnum "Motion Type" "Dynamic"
        Float "Master Voxel Size" "0.05" MIN= 0.0001 MAX= 100
    }

    PropSection "Smoke"
    {
        Float "Buoyancy" "1.0" MIN= -10 MAX= 10 (0 2) || lift per unit of temperature
        Float "Dissipation" "0.01" MIN= 0 MAX= 1
        Float "Ambient Temperature" "20" || degrees Celsius
        Vec3f "Wind" "0" "0" "0"
        Toggle "Vorticity Confinement" "On"
    }

    Channels
    {
        Field.*
        Vec3f Field.velocity 0 0 0 Transport = High
        Float Field.density 0 Transport = Low
        Float Field.temperature 20.0 Transport = Low
        Float Field.fuel 0 Keep
    }
}
