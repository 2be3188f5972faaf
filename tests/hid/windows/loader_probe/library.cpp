// A library that depends on another one, found by the loader's search order.
extern "C" __declspec(dllimport) int GlowstepProbeDependencyCopy();

extern "C" __declspec(dllexport) int GlowstepProbeLoadedDependency() {
  return GlowstepProbeDependencyCopy();
}
