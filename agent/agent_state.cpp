#include "agent/agent_state.h"

AgentState g_agent;
