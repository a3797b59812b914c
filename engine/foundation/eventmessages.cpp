#include "engine/foundation/eventmessages.h"

namespace vtx {

const EventMessageText kEventMessages[] = {
    {0x00000002, "Service started.\r\n"},
    {0x00000003, "Service stopped.\r\n"},
    {0x0000000A, "Vantrex application started."},
    {0x0000000B, "Vantrex application stopped."},
    {0x40000001, "%1"},
    {0x80000007, "The \"Hulvane Vantrex Messenger\" service requires that the service \"Log on as\" option be set to \"Local System account\" and that \"Interact with desktop\" be disabled. These are the default settings, and do not need to be changed.\r\n"},
    {0x80000008, "The email (Windows Messaging) notification option has been selected, but the \"Hulvane Vantrex\" service is currently set up to log on as \"Local System account\", which does not have access to the selected Windows Messaging profile. Please set the service \"Log on as\" option to a user having access to the selected profile. This user must also belong to the Administrators group of the local machine.\r\n"},
    {0x80000009, "The current \"Log on as\" option for the \"Hulvane Vantrex\" service does not grant the software write access to the system registry. Please set the service \"Log on as\" option either to \"Local System account\" or make sure that the selected user belongs to the Administrators group of the local machine.\r\n"},
    {0xC0000004, "Handler not installed.\r\n"},
    {0xC0000005, "The Vantrex application could not be started.\r\n"},
    {0xC0000006, "The resource library could not be loaded.\r\n"},
};
const size_t kEventMessageCount = sizeof kEventMessages / sizeof kEventMessages[0];

}  // namespace vtx
