// Compiles Boost.JSON's implementation into the core library: it links no Boost binary.
#include <boost/json/src.hpp>
