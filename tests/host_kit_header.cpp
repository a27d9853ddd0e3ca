// include/tarvel.h against the library's own declarations: every entry type
// the header gives a host must be the type of that export, calling
// convention included (GCC keeps stdcall and regparm in the function type).
// Compiled only; a difference fails the build.
#include "exports.h"
#include "tarvel.h"

#include <type_traits>

#define SAME_TYPE(name)                                                                            \
    static_assert(std::is_same<tarvel_##name##_fn, decltype(&::name)>::value,                      \
                  "tarvel.h: " #name " differs from the library")

SAME_TYPE(stdea);
SAME_TYPE(stdnea);
SAME_TYPE(stdead);
SAME_TYPE(stdnead);
SAME_TYPE(stdsa);
SAME_TYPE(stdnsa);
SAME_TYPE(stdsad);
SAME_TYPE(stdnsad);
SAME_TYPE(stdrsad);
SAME_TYPE(stdeb);
SAME_TYPE(stdneb);
SAME_TYPE(stdsb);
SAME_TYPE(stdnsb);
SAME_TYPE(stdrsb);
SAME_TYPE(stdtitre);
SAME_TYPE(stddetail);
SAME_TYPE(stdeas);
SAME_TYPE(stdrsas);
SAME_TYPE(stdsas);
SAME_TYPE(stdeadouble);
SAME_TYPE(stdneadouble);
SAME_TYPE(stdsadouble);
SAME_TYPE(stdnsadouble);
SAME_TYPE(stdrsadouble);
SAME_TYPE(stdebdouble);
SAME_TYPE(stdnebdouble);
SAME_TYPE(stdsbdouble);
SAME_TYPE(stdnsbdouble);
SAME_TYPE(stdrsbdouble);

SAME_TYPE(ea);
SAME_TYPE(nea);
SAME_TYPE(ead);
SAME_TYPE(nead);
SAME_TYPE(sa);
SAME_TYPE(nsa);
SAME_TYPE(sad);
SAME_TYPE(nsad);
SAME_TYPE(rsa);
SAME_TYPE(rsad);
SAME_TYPE(eb);
SAME_TYPE(neb);
SAME_TYPE(sb);
SAME_TYPE(nsb);
SAME_TYPE(rsb);
SAME_TYPE(titre);
SAME_TYPE(detail);
SAME_TYPE(pead);
SAME_TYPE(psad);
SAME_TYPE(eadouble);
SAME_TYPE(neadouble);
SAME_TYPE(sadouble);
SAME_TYPE(nsadouble);
SAME_TYPE(rsadouble);
SAME_TYPE(ebdouble);
SAME_TYPE(nebdouble);
SAME_TYPE(sbdouble);
SAME_TYPE(nsbdouble);
SAME_TYPE(rsbdouble);
