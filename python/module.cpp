// The _ostrel_mbe extension module: registration of every class group in module order.
#include <nanobind/nanobind.h>

namespace nb = nanobind;

NB_MODULE(_ostrel_mbe, m) {
    m.attr("__version__") = "0.1.0";
}
