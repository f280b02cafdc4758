// The instance whose objects the agent serves, and its one session with the store.
#include "agent/mib/store_access.h"

char instanceName[INSTANCE_NAME_SIZE];
MmlSessionHandle MmlSession;
