// The screen's message catalogue, msgPadrao: key|text, in its stored order. Texts are shown
// exactly as they stand (missing full stops and double spaces included).
#include "acerto/settlement/catalogue.h"

namespace acerto::settlement {

const std::vector<std::string>& catalogue_lines() {
    static const std::vector<std::string> lines = {
        "Excl|Confirma exclusão?",
        "PRODUTO|Produto",
        "Del_Acerto|Se confirmar esta operção o acerto também será excluído. Deseja excluir?",
        "SUCESSO|Financeiro atualizado com sucesso.",
        "PRECOBASE_N_INF|Preço base deve ser informado.",
        "PRECOBASE_N_CAD|Preço base não cadastrado.",
        "FILI_N_INF|Filial deve ser informada.",
        "FILI_N_CAD|Filial não cadastrada.",
        "DEPTO_N_INF|Departamento deve ser informado.",
        "DEPTO_N_CAD|Departamento não cadastrado para filial informada.",
        "ORCA_N_INF|Número deve ser informado.",
        "ORCA_N_CAD|Orçamento não cadastrado. Apenas orçamentos com devolução podem ter Acerto Final.",
        "Acertos|Acertos",
        "Nome_Inf|Nome deve ser informado.",
        "QT_NULO|Quantidade deve ser informada.",
        "QT_Zero|Quantidade deve ser maior que zero.",
        "VR_NULO|Valor deve ser informado.",
        "VR_Zero|Valor deve ser maior que zero.",
        "Pre_Inf|Preço base deve ser informado.",
        "Prc_Nao_Cad|Preço base não cadastrado.",
        "Prod_Inf|Produto deve ser informado.",
        "Prod_Nao_Cad|Produto não cadastrado.",
        "N_Exis_For|Não existe fornecedor parametrizado para hora extra.",
        "CONTAJACAD|Já foram geradas contas a receber e contas a pagar para o acerto final.",
        "PEND|Pendente",
        "ATUA|Atualizado",
        "FORN|Fornecedor",
        "FORN_N_INF|Fornecedor deve ser informado.",
        "FORN_N_CAD|Fornecedor não cadastrado.",
        "N_PARAM_FORN_N_CLIE|Não há fornecedor cadastrado para o cliente contratante do orçamento. Conta a pagar não "
        "pode ser gerada.",
        "N_PARAM_TIPOOPERPAG|Não há tipo de operação de entrada parametrizado para o acerto final.",
        "N_PARAM_TPCTPAG|Não há tipo de conta a pagar parametrizado para o tipo de operação de entrada %s.",
        "N_PARAM_SERIEENTR|Não há série de entrada parametrizado.",
        "EST_ATU|Acerto não pode ser alterado. Estoque já foi atualizado.",
        "FIN_ATU|Acerto não pode ser alterado. Financeiro já foi atualizado.",
        "ACERTO_ATU|Acerto não pode ser alterado. Estoque e financeira já foram atualizados.",
        "FINANC_JA_CAD|Operação bloqueada. Financeiro já foi atualizado.",
        "CANC_REALIZADO|Cancelamento realizado.",
        "N_PARAM_CONTABAIXADA|Conta a pagar não pode ser cancelada, a conta já foi baixada.",
        "N_PARAM_BOL_N_CONTAS|Conta a pagar não pode ser cancelada. O boleto da conta está associado à outros boletos.",
        "N_PARAM_CONTARECBAIXADA|Conta a receber não pode ser cancelada, a conta já foi baixada.",
        "N_PARAM_BOLREC_N_CONTAS|Conta a receber não pode ser cancelada. O boleta da conta está associada à outros "
        "boletos.",
        "N_PARAM_TIPOOPER|Não há tipo de operação parametrizado na tela Parâmetros do Orçamento.",
        "N_PARAM_TPCTREC|Tipo de conta a receber não parametrizado para o tipo de operação (%s).",
        "N_PARAM_SERIE|Série não parametrizada para o filial (%s).",
        "Acre_Zero|Valor do acréscimo deve ser maior ou igual a zero.",
        "Desc_Zero|Valor do desconto deve ser maior ou igual a zero.",
        "N_PARAM_PRECOMAT|Não há preço base de reposição de materiais parametrizado. Importação não pode ser "
        "realizada.",
        "Exis_Devol_Orca|Existe devolução cadastrada para o orçamento. Deseja importar?",
        "N_PARAM_AJCTRECSOB|Não há ajuste parametrizado para o acerto final. Operação não pode ser realizada.",
        "Quant_Inf|Quantidade de convidados deve ser informada",
        "Pessoa_Inf|Valor por pessoa deve ser informado.",
        "Prof_Inf|Mão de Obra deve ser informada.",
        "INF_PRECO|Informe Preço Base.",
        "PROD_INA_RETI|Os seguintes produto estão inativos. Eles não podem ser retirados do estoque.",
        "SEM_ALMOX_RETI|Os seguintes produtos não possuem almoxarifado de expedição cadastrado. Eles não podem ser "
        "retirados do estoque.",
        "PROD_N_RETI|Os seguintes produtos não possuem quantidade suficiente em estoque. Eles não podem ser retirados.",
        "EXISTE_RETIRADA|Já existe retirada para o orçamento informado. Operação Bloqueada.",
        "Canc_Reti_Sucesso|Cancelamento da retirada realizado com sucesso.",
        "SEM_RETIRADA|Não existe retirada para o orçamento informado. Operação bloqueada.",
        "SEM_CDTIPORETI|Tipo de retirada deve ser informado na tela \"Parâmetros do Orçamento de Eventos\".",
        "RETI_EST_SUCESSO|Retirada realizada com sucesso.",
        "RETIRADO|Retirado",
        "ORC|ORÇAMENTO",
        "ENC|ENCOMENDA",
        "ENC_N_CAD|Número não cadastrado.",
        "Exis_Devol_Enco|Existe devolução cadastrada para a encomenda. Deseja importar?",
        "N_PARAM_CDFORNPADORC|Não há fornecedor padrão parametrizado para hora extra. Operação bloqueada.",
        "N_PARAM_EMPRESARELAC|Empresa ou sua Inscrição Estadual  não esta relacionada a filial.",
        "N_PARAM_NRINSCESTA|Não há Inscrição Estadual cadastrada para a Empresa informada.",
        "N_PARAM_CDEMPRESAORCA|Não foi gravado o código da empresa informada na tela do Contratante.",
    };
    return lines;
}

}  // namespace acerto::settlement
