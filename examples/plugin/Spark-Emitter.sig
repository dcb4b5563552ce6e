BodySignature Spark-Emitter |* Sparks thrown from a point. The type's code is
   a plug-in: Spark-Emitter.so, found beside this file. *|
{
    PropSection "Emitter"
    {
        Vec3f "Origin" "0" "0.5" "0"
        Float "Speed" "4.0" MIN= 0 MAX= 1000 || at birth, in units per second
        Float "Spread" "0.6" MIN= 0 MAX= 3.1416 || half-angle of the cone around +y, in radians
        Float "Lifetime" "0.8" MIN= 0.001 MAX= 100 || seconds a spark glows
        Float "Master Voxel Size" "0.1" MIN= 0.0001 MAX= 100 || edge of one voxel
    }

    Channels
    {
        Particle.*
        Vec3f Particle.position 0 0 0
        Vec3f Particle.velocity 0 0 0
        Float Particle.heat 1.0
    }
}
