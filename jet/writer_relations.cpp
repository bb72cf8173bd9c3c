// ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY and DROP CONSTRAINT.
#include "writer_impl.h"

namespace jet {

void WriterImpl::addForeignKey(const sql::AddForeignKey&) { throwError(err::Unsupported, "not yet"); }
void WriterImpl::dropConstraint(const sql::DropConstraint&) { throwError(err::Unsupported, "not yet"); }

}  // namespace jet
