// An engine file that includes the interface: the check must refuse it.
#include "base/ok.h"
#include "ui/controller.h"
