#pragma once
// The export driver: gathers the positions and velocities of every particle of
// a ZTP file and writes them as one GeomParticleSystem plugin.

class Sequence;

// Elements per block of the two particle sequences.
constexpr int kParticleBlockCapacity = 20000;

// True when the whole output file was written.
bool exportParticles(const char* inputPath, const char* outputPath, const char* pluginName, float radius,
                     float fps, float frame);

// The writing half: opens the output, writes the plugin with its four lists,
// prints the summary on standard output. Both sequences are freed on every
// return path. Failures print their message on standard error and give false.
bool writeParticleFile(const char* outputPath, const char* pluginName, float radius, float fps, float frame,
                       Sequence& positions, Sequence& velocities);
