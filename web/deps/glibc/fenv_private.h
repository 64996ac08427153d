/* WebAssembly rounds to nearest in double precision always: nothing to set or restore. */
#define SET_RESTORE_ROUND_53BIT(mode)
#define SET_RESTORE_ROUND(mode)
