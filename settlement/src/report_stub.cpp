// The report screen's entry. The report screen itself is built with the printing command;
// until then opening it does nothing.
#include "acerto/settlement/acerto_final.h"

extern "C" void CriaRelAcerto() {}
