#include "agent/mib/mib.h"

char instanceName[INSTANCE_NAME_SIZE];
MmlSessionHandle MmlSession;
