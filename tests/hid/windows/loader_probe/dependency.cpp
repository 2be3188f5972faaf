// A library that says which copy of it was loaded.
extern "C" __declspec(dllexport) int GlowstepProbeDependencyCopy() {
  return GLOWSTEP_PROBE_DEPENDENCY_COPY;
}
