// Stands for the command layer's header in the upward-include fixture.
#pragma once
