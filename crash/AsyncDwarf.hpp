#pragma once

// The DWARF call-frame reader: LEB128 values, GNU pointer encodings, CIE
// and FDE parsing, the call-frame program, DWARF expressions and applying
// the resulting rules to a frame's registers. Reads .eh_frame (and
// .debug_frame) through memory objects; every component is a template over
// the target's address width (uint32_t or uint64_t), instantiated for both.
//
// Async-safe: fixed-size state (a 100-entry rule pool, a 100-value
// expression stack), no heap, no locks. Loops over task data are bounded:
// expressions stop after QCRASH_DWARF_MAX_EXPRESSION_OPS operations.

#include <type_traits>

#include "crash/AsyncMemoryObject.hpp"
#include "crash/AsyncThreadState.hpp"

namespace tervolo::crash {

// Executed expression operations before an expression is given up (4): a
// backward branch must not hang a crash handler.
inline constexpr uint32_t QCRASH_DWARF_MAX_EXPRESSION_OPS = 10000;
inline constexpr uint32_t QCRASH_DWARF_EXPRESSION_STACK = 100;

// Pointer encodings (DW_EH_PE_*).
enum : uint8_t {
    DW_EH_PE_absptr = 0x00,
    DW_EH_PE_uleb128 = 0x01,
    DW_EH_PE_udata2 = 0x02,
    DW_EH_PE_udata4 = 0x03,
    DW_EH_PE_udata8 = 0x04,
    DW_EH_PE_sleb128 = 0x09,
    DW_EH_PE_sdata2 = 0x0A,
    DW_EH_PE_sdata4 = 0x0B,
    DW_EH_PE_sdata8 = 0x0C,
    DW_EH_PE_pcrel = 0x10,
    DW_EH_PE_textrel = 0x20,
    DW_EH_PE_datarel = 0x30,
    DW_EH_PE_funcrel = 0x40,
    DW_EH_PE_aligned = 0x50,
    DW_EH_PE_indirect = 0x80,
    DW_EH_PE_omit = 0xFF,
};

qcrash_error_t qcrash_async_dwarf_read_uleb128(const qcrash_async_mobject_t* mobj,
                                               qcrash_vm_address_t location, qcrash_vm_off_t offset,
                                               uint64_t* result, qcrash_vm_size_t* size);
qcrash_error_t qcrash_async_dwarf_read_sleb128(const qcrash_async_mobject_t* mobj,
                                               qcrash_vm_address_t location, qcrash_vm_off_t offset,
                                               int64_t* result, qcrash_vm_size_t* size);
qcrash_error_t qcrash_async_dwarf_read_task_uleb128(qcrash_task_t task, qcrash_vm_address_t location,
                                                    qcrash_vm_off_t offset, uint64_t* result,
                                                    qcrash_vm_size_t* size);
qcrash_error_t qcrash_async_dwarf_read_task_sleb128(qcrash_task_t task, qcrash_vm_address_t location,
                                                    qcrash_vm_off_t offset, int64_t* result,
                                                    qcrash_vm_size_t* size);

template <typename machine_ptr>
class gnu_ehptr_reader {
  public:
    explicit gnu_ehptr_reader(const qcrash_async_byteorder_t* byteorder) : byteorder_(byteorder) {}

    void set_frame_section_base(machine_ptr frame_section_base, machine_ptr frame_section_vm_addr) {
        frame_section_ = {true, frame_section_base, frame_section_vm_addr};
    }
    void set_text_base(machine_ptr text_base) { text_ = {true, text_base, 0}; }
    void set_data_base(machine_ptr data_base) { data_ = {true, data_base, 0}; }
    void set_func_base(machine_ptr func_base) { func_ = {true, func_base, 0}; }

    // Reads the pointer at location + offset with `encoding`; `size` is the
    // bytes it took. 8 for DW_EH_PE_omit, 4 for an encoding or a base that
    // is not there, 5 when the bytes run past the object.
    qcrash_error_t read(const qcrash_async_mobject_t* mobj, qcrash_vm_address_t location,
                        qcrash_vm_off_t offset, uint8_t encoding, machine_ptr* result,
                        qcrash_vm_size_t* size) const;

  private:
    struct Base {
        bool set = false;
        machine_ptr value = 0;
        machine_ptr vm_addr = 0;
    };
    const qcrash_async_byteorder_t* byteorder_;
    Base frame_section_, text_, data_, func_;
};

struct qcrash_async_dwarf_cie_info_t {
    uint64_t cie_offset;  // after the length field, from the section start
    uint64_t cie_length;
    uint64_t cie_id;
    uint8_t cie_version;
    uint8_t address_size;
    uint8_t segment_size;
    uint64_t code_alignment_factor;
    int64_t data_alignment_factor;
    uint64_t return_address_register;
    bool has_eh_augmentation;  // the augmentation began with "z"
    bool has_lsda_encoding;
    uint8_t lsda_encoding;
    bool has_personality_address;
    uint64_t personality_address;
    bool has_pointer_encoding;
    uint8_t pointer_encoding;
    bool signal_frame;
    uint64_t initial_instructions_offset;
    uint64_t initial_instructions_length;
};

struct qcrash_async_dwarf_fde_info_t {
    uint64_t fde_offset;  // after the length field
    uint64_t fde_length;
    uint64_t cie_offset;  // of the CIE's length field, from the section start
    uint64_t pc_start;
    uint64_t pc_end;
    uint64_t instructions_offset;
    uint64_t instructions_length;
};

template <typename machine_ptr>
qcrash_error_t qcrash_async_dwarf_cie_info_init(qcrash_async_dwarf_cie_info_t* info,
                                                const qcrash_async_mobject_t* mobj,
                                                const qcrash_async_byteorder_t* byteorder,
                                                const gnu_ehptr_reader<machine_ptr>* ptr_reader,
                                                qcrash_vm_address_t address);
void qcrash_async_dwarf_cie_info_free(qcrash_async_dwarf_cie_info_t* info);
uint64_t qcrash_async_dwarf_cie_info_initial_instructions_offset(const qcrash_async_dwarf_cie_info_t* info);
uint64_t qcrash_async_dwarf_cie_info_initial_instructions_length(const qcrash_async_dwarf_cie_info_t* info);

// Parses the FDE at `fde_address` (its length field) and its CIE.
template <typename machine_ptr>
qcrash_error_t qcrash_async_dwarf_fde_info_init(qcrash_async_dwarf_fde_info_t* info,
                                                const qcrash_async_mobject_t* mobj,
                                                const qcrash_async_byteorder_t* byteorder,
                                                qcrash_vm_address_t fde_address, bool debug_frame);
void qcrash_async_dwarf_fde_info_free(qcrash_async_dwarf_fde_info_t* info);
uint64_t qcrash_async_dwarf_fde_info_instructions_offset(const qcrash_async_dwarf_fde_info_t* info);
uint64_t qcrash_async_dwarf_fde_info_instructions_length(const qcrash_async_dwarf_fde_info_t* info);

// The pointer reader the section's pointers need: the frame section as the
// base for aligned pointers.
template <typename machine_ptr>
gnu_ehptr_reader<machine_ptr> qcrash_async_dwarf_section_ptr_reader(
    const qcrash_async_mobject_t* mobj, const qcrash_async_byteorder_t* byteorder);

template <typename machine_ptr>
class dwarf_frame_reader {
  public:
    qcrash_error_t init(const qcrash_async_mobject_t* mobj, const qcrash_async_byteorder_t* byteorder,
                        bool m64, bool debug_frame);
    // The FDE covering `pc` (pc start <= pc < pc end), walking from `offset`
    // (from the section start); 8 when none does.
    qcrash_error_t find_fde(qcrash_vm_off_t offset, machine_ptr pc,
                            qcrash_async_dwarf_fde_info_t* fde_info) const;

  private:
    const qcrash_async_mobject_t* mobj_ = nullptr;
    const qcrash_async_byteorder_t* byteorder_ = nullptr;
    bool m64_ = false;
    bool debug_frame_ = false;
};

// Register rules.
enum qcrash_dwarf_cfa_reg_rule_t : uint8_t {
    QCRASH_DWARF_CFA_REG_RULE_OFFSET = 0,
    QCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET = 1,
    QCRASH_DWARF_CFA_REG_RULE_REGISTER = 2,
    QCRASH_DWARF_CFA_REG_RULE_EXPRESSION = 3,
    QCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION = 4,
    QCRASH_DWARF_CFA_REG_RULE_SAME_VALUE = 5,
};

enum qcrash_dwarf_cfa_rule_type : uint8_t {
    QCRASH_DWARF_CFA_RULE_UNDEFINED = 0,
    QCRASH_DWARF_CFA_RULE_EXPRESSION = 1,
    QCRASH_DWARF_CFA_RULE_REGISTER_UNSIGNED = 2,
    QCRASH_DWARF_CFA_RULE_REGISTER_SIGNED = 3,
};

struct qcrash_dwarf_cfa_rule_t {
    qcrash_dwarf_cfa_rule_type type;
    uint32_t reg;
    int64_t offset;  // unsigned rules keep their value in the same bits
    qcrash_vm_address_t expression;
    uint64_t expression_length;
};

template <typename machine_ptr, typename machine_ptr_s>
class dwarf_cfa_state {
  public:
    static constexpr uint32_t kMaxStates = 6;
    static constexpr uint32_t kBuckets = 14;
    static constexpr uint32_t kPoolSize = 100;

    dwarf_cfa_state();

    // False when the pool is full.
    bool set_register(uint32_t regnum, qcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value);
    bool get_register_rule(uint32_t regnum, qcrash_dwarf_cfa_reg_rule_t* rule, machine_ptr* value) const;
    void remove_register(uint32_t regnum);
    uint32_t get_register_count() const;

    void set_cfa_register(uint32_t regnum, machine_ptr offset);
    void set_cfa_register_signed(uint32_t regnum, machine_ptr_s offset);
    void set_cfa_expression(qcrash_vm_address_t address, uint64_t length);
    qcrash_dwarf_cfa_rule_t get_cfa_rule() const { return states_[depth_].cfa; }

    // False when 6 states are in use, or the pool cannot hold the copy.
    bool push_state();
    // False at the outermost state.
    bool pop_state();

    // Runs the instructions [address + offset, + length) until the location
    // passes `pc` (0: run them all). `initial_location` is the FDE's pc start.
    qcrash_error_t eval_program(const qcrash_async_mobject_t* mobj, machine_ptr pc,
                                machine_ptr initial_location, const qcrash_async_dwarf_cie_info_t* cie,
                                const gnu_ehptr_reader<machine_ptr>* ptr_reader,
                                const qcrash_async_byteorder_t* byteorder, qcrash_vm_address_t address,
                                qcrash_vm_off_t offset, qcrash_vm_size_t length);

    qcrash_error_t apply_state(qcrash_task_t task, const qcrash_async_dwarf_cie_info_t* cie,
                               const qcrash_async_thread_state_t* current,
                               const qcrash_async_byteorder_t* byteorder,
                               qcrash_async_thread_state_t* caller) const;

    // Walks the current state's rules bucket by bucket.
    class iterator {
      public:
        explicit iterator(const dwarf_cfa_state* state) : state_(state) {}
        bool next(uint32_t* regnum, qcrash_dwarf_cfa_reg_rule_t* rule, machine_ptr* value);

      private:
        const dwarf_cfa_state* state_;
        uint32_t bucket_ = 0;
        uint8_t entry_ = kNone;
        bool started_ = false;
    };

  private:
    static constexpr uint8_t kNone = 0xFF;
    struct Entry {
        uint32_t regnum;
        qcrash_dwarf_cfa_reg_rule_t rule;
        machine_ptr value;
        uint8_t next;
    };
    struct State {
        qcrash_dwarf_cfa_rule_t cfa;
        uint8_t buckets[kBuckets];
    };

    uint8_t allocate();
    void release(uint8_t index);
    void clearState(State* state);

    Entry pool_[kPoolSize];
    uint8_t free_;
    State states_[kMaxStates];
    uint32_t depth_ = 0;
};

// Evaluates the expression [address + offset, + length) with `initial`
// values pushed first (at most 100: 6 beyond). 4 for an unsupported
// operation or more than QCRASH_DWARF_MAX_EXPRESSION_OPS operations, 5 for
// a malformed one, 8 for a register the state does not hold.
template <typename machine_ptr, typename machine_ptr_s>
qcrash_error_t qcrash_async_dwarf_expression_eval(const qcrash_async_mobject_t* mobj, qcrash_task_t task,
                                                  const qcrash_async_thread_state_t* state,
                                                  const qcrash_async_byteorder_t* byteorder,
                                                  qcrash_vm_address_t address, qcrash_vm_off_t offset,
                                                  qcrash_vm_size_t length, const machine_ptr* initial,
                                                  uint32_t initial_count, machine_ptr* result);

}  // namespace tervolo::crash
