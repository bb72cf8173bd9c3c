#include "writer_error.h"

#include "error.h"

namespace jet {

void throwError(int number, std::string description)
{
    throw Error(number, std::move(description));
}

}  // namespace jet
