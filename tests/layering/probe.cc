// Built against one subsystem with the header of a subsystem it must not see: the build has to
// stop at this include, the header not found.
#include QB_FORBIDDEN_HEADER
